#include "runtime/values/error_messages.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <forward_list>
#include <string>
#include <utility>

namespace vtn {
namespace {

struct MessageText {
  int32_t code;
  const char* text;
};

// The run-time's message table. Mind the trailing blank of 78 and 350.
constexpr MessageText kMessageTable[] = {
    {2, "File Not Found"},
    {3, "Path Not Found"},
    {4, "Too Many Open Files"},
    {5, "Access Denied"},
    {7, "Memory Corrupted"},
    {8, "Insufficient Memory"},
    {30, "Entry Not Found"},
    {32, "File Is Already Locked"},
    {33, "Record Not Available"},
    {35, "Record Not Found"},
    {36, "Invalid Data File"},
    {37, "File Not Open"},
    {38, "Invalid Key File"},
    {40, "Creates Duplicate Key"},
    {43, "Record Is Already Held"},
    {45, "Invalid Filename"},
    {46, "Key File Must Be Rebuilt"},
    {47, "Invalid Record Declaration"},
    {48, "Unable To Log Transaction"},
    {52, "File Already Open"},
    {53, "Invalid Vortane File"},
    {54, "No Create Attribute"},
    {55, "File Must Be Shared"},
    {56, "LOGOUT Already Active"},
    {57, "Invalid Memo File"},
    {63, "Exclusive Access Required"},
    {64, "Sharing Violation"},
    {65, "Unable To ROLLBACK Transaction"},
    {73, "Memo File Missing"},
    {75, "Invalid Field Type Descriptor"},
    {76, "Invalid Index String"},
    {77, "Unable To Access Index"},
    {78, "Invalid Number Of Parameters "},
    {79, "Unsupported Data Type In File"},
    {80, "Unsupported File Driver Function"},
    {81, "Unknown Error Posted"},
    {88, "Invalid Key Length"},
    {89, "Record Changed By Another Station"},
    {90, "File System Error"},
    {91, "LOGOUT Not Active"},
    {92, "BUILD In Progress"},
    {93, "BUILD Cancelled"},
    {95, "Server Not Found"},
    {96, "Remote Object Not Found"},
    {301, "Invalid Function"},
    {302, "File Not Found"},
    {303, "Path Not Found"},
    {304, "Too Many Open Files"},
    {305, "Access Denied"},
    {306, "Invalid Handle"},
    {307, "Memory Corrupted"},
    {308, "Insufficient Memory"},
    {309, "Invalid Memory Block"},
    {310, "Invalid Environment"},
    {311, "Invalid Format"},
    {312, "Invalid Access"},
    {313, "Invalid Data"},
    {315, "Invalid Drive"},
    {316, "Invalid Operation For Current Directory"},
    {317, "Not Same Device"},
    {318, "No More Files"},
    {319, "Write Protect"},
    {320, "Invalid Unit"},
    {321, "Device Not Ready"},
    {322, "Invalid Command"},
    {323, "Media Checksum Failed"},
    {324, "Invalid Length"},
    {325, "Seek Location Inaccessible"},
    {326, "Not DOS Disk"},
    {327, "Sector Not Found"},
    {328, "Out Of Paper"},
    {329, "Write Fault"},
    {330, "Read Fault"},
    {331, "General Failure"},
    {332, "Sharing Violation"},
    {333, "Lock Violation"},
    {334, "Wrong Disk"},
    {335, "FCB Unavailable"},
    {336, "Sharing Buffer Exceeded"},
    {337, "Code Page Mismatched"},
    {338, "Handle EOF"},
    {339, "Handle Disk Full"},
    {350, "Not Supported "},
    {351, "REM Not List"},
    {352, "Duplicate Name Encountered"},
    {353, "Invalid Network Path"},
    {354, "Network Busy"},
    {355, "Device Does Not Exist"},
    {356, "Too Many Commands"},
    {357, "Adapter/Hardware Failure"},
    {358, "Invalid Network Response"},
    {359, "Unexpected Network Error"},
    {360, "Invalid REM Adapter"},
    {361, "Print Queue Full"},
    {362, "No Spool Space"},
    {363, "Print Cancelled"},
    {364, "Network Name Deleted"},
    {365, "Network Access Denied"},
    {366, "Invalid Device Type"},
    {367, "Invalid Network Name"},
    {368, "Too Many Names"},
    {369, "Too Many Sessions"},
    {370, "Sharing Paused"},
    {371, "Request Not Accepted"},
    {372, "Network Redirection Paused"},
    {380, "File Already Exists"},
    {381, "Duplicate FCB"},
    {382, "Cannot Make"},
    {383, "Fail Critical Error"},
    {384, "Out Of Structures"},
    {385, "Already Assigned"},
    {386, "Invalid Password"},
    {387, "Invalid Parameter"},
    {388, "Network Write Fault"},
    {390, "System Component Not Loaded"},
    {391, "Unknown Error"},
    {401, "Stack overflow"},
    {402, "Null pointer de-reference"},
    {403, "Termination caused by signal.  (User break or Floating point)"},
    {404, "Arithmetic Overflow"},
    {405, "Variable out of range"},
    {406, "No return value from function"},
    {407, "No matching Case Label"},
    {408, "Long Integer Divide By Zero"},
    {409, "Index out of range"},
    {410, "Pure Virtual Function Called"},
    {501, "Internal error 01"},
    {502, "Internal error 02"},
    {503, "Internal error 03"},
    {504, "Internal error 04"},
    {505, "Internal error 05"},
    {506, "Internal error 06"},
    {507, "Internal error 07"},
    {508, "Internal error 08"},
    {509, "Internal error 09"},
    {510, "Internal error 10"},
    {511, "Internal error 11"},
    {512, "Internal error 12"},
    {513, "Internal error 13"},
    {514, "Internal error 14"},
    {515, "Internal error 15"},
    {520, "Mismatch with XWVBX.DLL detected"},
    {521, "VBX control is too complex"},
    {522, "Event posted to a report control"},
    {523, "Metafile record too large in report"},
    {524, "Unexpected error opening printer device"},
    {525, "Report is already open"},
    {526, "Unable to open APPLICATION (APPLICATION already active)"},
    {527, "Unable to open APPLICATION (system is MODAL)"},
    {528, "Unable to open APPLICATION"},
    {529, "Unable to open WINDOW"},
    {530, "Unable to open MDI window (No APPLICATION active)"},
    {531, "Unable to open MDI window (system is MODAL)"},
    {532, "Unable to open MDI window on APPLICATION's thread"},
    {533, "Unable to open MDI WINDOW"},
    {534, "Too many keystrokes PRESSed"},
    {535, "Window is already open"},
    {536, "Window is not open"},
    {537, "ACCEPT loop requires a window"},
    {538, "PRINT must only be called for reports"},
    {539, "ENDPAGE must only be called for reports"},
    {540, "Unable to process ACCEPT (system is MODAL)"},
    {541, "Unable to create control (system is MODAL)"},
    {542, "Unable to complete operation (system is MODAL)"},
    {543, "Slider controls are only available in 32-bit programs"},
    {544, "Too Many VBX Hooks"},
    {601, "Invalid DDE channel"},
    {602, "DDE channel is not open"},
    {603, "DDEexecute - invalid command"},
    {604, "DDEpoke - invalid command"},
    {605, "DDE transaction timed out"},
    {800, "Invalid expression for EVALUATE"},
    {801, "No BIND on variable"},
    {802, "Mismatched PUSHSCOPE/POPSCOPE"},
};

constexpr int32_t kUnknownErrorCode = 81;
constexpr size_t kMessageBufferSize = 256;
constexpr size_t kOverrideLimit = 255;

struct Override {
  int32_t number;
  std::string text;
};

// Newest first, at most one entry per number.
std::forward_list<Override>& overrides() {
  static std::forward_list<Override> list;
  return list;
}

thread_local char t_message_buffer[kMessageBufferSize];

void copy_to_buffer(std::string_view text) {
  const size_t n = std::min(text.size(), kMessageBufferSize - 1);
  if (n != 0) std::memcpy(t_message_buffer, text.data(), n);
  t_message_buffer[n] = '\0';
}

}  // namespace

std::string_view message_table_text(int32_t code) {
  for (const MessageText& m : kMessageTable) {
    if (m.code == code) return m.text;
  }
  return {};
}

void set_message_override(int32_t number, std::string_view text) {
  text = text.substr(0, kOverrideLimit);
  for (Override& o : overrides()) {
    if (o.number == number) {
      o.text = std::string(text);
      return;
    }
  }
  overrides().push_front(Override{number, std::string(text)});
}

std::optional<std::string_view> find_message_override(int32_t number) {
  for (const Override& o : overrides()) {
    if (o.number == number) return std::string_view(o.text);
  }
  return std::nullopt;
}

void clear_message_overrides() {
  overrides().clear();
}

const char* error_message(int32_t code) {
  if (code == 0) code = kUnknownErrorCode;
  if (auto text = find_message_override(code)) {
    copy_to_buffer(*text);
  } else {
    copy_to_buffer(message_table_text(code));
  }
  if (t_message_buffer[0] == '\0') {
    std::string composed(message_table_text(kUnknownErrorCode));
    composed += " : ";
    composed += std::to_string(code);
    copy_to_buffer(composed);
  }
  return t_message_buffer;
}

}  // namespace vtn
