// The backend for runs without a person: the box is printed to standard error and its default
// button is taken, so nothing ever waits. The first line reads "<caption>: <first text line>".
#include <cstdio>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"

namespace vtn {
namespace {

class StderrBackend final : public DialogBackend {
 public:
  std::string_view name() const override { return "stderr"; }

  int32_t run(const DialogModel& model) override {
    const std::vector<DialogButton> shown = model.shown_buttons();
    const int32_t id = shown[model.default_index()].identifier;
    print(model, id, false);
    return id;
  }

  void report_preset(const DialogModel& model, int32_t identifier) override {
    print(model, identifier, true);
  }

 private:
  static void print(const DialogModel& model, int32_t identifier, bool preset) {
    std::string out = platform::ansi_to_utf8(model.caption) + ":";
    std::string_view text = model.text;
    bool first = true;
    while (true) {
      size_t brk = text.find('\n');
      std::string_view line = text.substr(0, brk);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      out += first ? " " : "  ";
      out += platform::ansi_to_utf8(line);
      out += "\n";
      first = false;
      if (brk == std::string_view::npos) break;
      text.remove_prefix(brk + 1);
    }
    const std::vector<DialogButton> shown = model.shown_buttons();
    const size_t default_index = model.default_index();
    out += "  [" + describe_icon(model.icon) + "]";
    std::string answer;
    for (size_t i = 0; i < shown.size(); ++i) {
      std::string caption = platform::ansi_to_utf8(strip_access_marks(shown[i].caption));
      out += (i == 0 ? " " : " | ") + caption;
      if (i == default_index) out += " (default)";
      if (shown[i].identifier == identifier) answer = caption;
    }
    out += " -> " + answer + (preset ? " (preset answer)" : "") + "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

DialogBackend& stderr_backend() {
  static StderrBackend backend;
  return backend;
}

}  // namespace vtn
