// The interface between the message box and the thing that shows it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/ui/message_box.hpp"

namespace vtn {

class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  virtual std::string_view name() const = 0;
  // Shows the box and waits; returns the identifier of the control that ended it. A backend
  // only ever returns the identifier of a shown button.
  virtual int32_t run(const DialogModel& model) = 0;
  // Tells the person that a preset answer was taken (backends that show nothing else ignore it).
  virtual void report_preset(const DialogModel& model, int32_t identifier) {
    (void)model;
    (void)identifier;
  }
};

// The backends. gui_backend() is null when the toolkit was not built in or no display opens.
DialogBackend& stderr_backend();
DialogBackend& tty_backend();
DialogBackend* gui_backend();

// The backend for the next box: VTN_MSGBOX when it names one that works, else gui when DISPLAY
// is set, else tty when standard input and error are terminals, else stderr.
DialogBackend& select_backend();

// Plain captions for display: "&" access marks removed ("&&" stays "&").
std::string strip_access_marks(std::string_view caption);

}  // namespace vtn
