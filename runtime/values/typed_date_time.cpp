// Typed references to DATE and TIME. Both hold calendar fields but convert through LONG as a
// date or time serial: a store of an invalid serial writes zeros, a read of an invalid field
// combination gives 0 (DATE) or -1 (TIME).
#include <cstring>

#include "runtime/values/calendar.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"

namespace vtn::detail {
namespace {

// DATE: byte 0 day, byte 1 month, bytes 2-3 year.
struct DateCodec {
  static constexpr ValueType kType = ValueType::DATE;
  static void write(int32_t serial, uint8_t* bytes) {
    CalendarDate date;
    if (serial_to_date(serial, date) != 0 || date.year < 0 || date.year > 0xFFFF) {
      std::memset(bytes, 0, 4);
      return;
    }
    bytes[0] = date.day;
    bytes[1] = date.month;
    bytes[2] = static_cast<uint8_t>(date.year);
    bytes[3] = static_cast<uint8_t>(date.year >> 8);
  }
  static int32_t read(const uint8_t* bytes) {
    CalendarDate date;
    date.day = bytes[0];
    date.month = bytes[1];
    date.year = bytes[2] | (bytes[3] << 8);
    if (date.year > 9999) return kLastDateSerial;
    const int32_t serial = date_to_serial(date);
    return serial < 0 ? 0 : serial;
  }
};

// TIME: byte 0 hundredths, byte 1 seconds, byte 2 minutes, byte 3 hours.
struct TimeCodec {
  static constexpr ValueType kType = ValueType::TIME;
  static void write(int32_t serial, uint8_t* bytes) {
    ClockTime time;
    if (serial_to_time(serial, time) != 0) {
      std::memset(bytes, 0, 4);
      return;
    }
    bytes[0] = time.hundredths;
    bytes[1] = time.seconds;
    bytes[2] = time.minutes;
    bytes[3] = time.hours;
  }
  static int32_t read(const uint8_t* bytes) {
    ClockTime time;
    time.hundredths = bytes[0];
    time.seconds = bytes[1];
    time.minutes = bytes[2];
    time.hours = bytes[3];
    return time_to_serial(time);  // 0 for all zeros, -1 for a field out of range
  }
};

template <typename Codec>
class DateTimeReference final : public TypedReference {
 public:
  explicit DateTimeReference(void* address) : TypedReference(Codec::kType, address, 4) {}

  void assign_long(int32_t value) override { Codec::write(value, bytes()); }
  void assign_real(double value) override { assign_long(truncate_real(value)); }
  int compare_long(int32_t value) const override {
    const int32_t mine = read_long();
    return mine < value ? -1 : (mine > value ? 1 : 0);
  }
  void pop_string() override { assign_long(string_stack().pop_long()); }
  void push_string() const override { string_stack().push_long(read_long()); }
  void pop_decimal() override { assign_long(decimal_stack().pop_long()); }
  void push_decimal() const override { decimal_stack().push_long(read_long()); }
  double read_real() const override { return read_long(); }
  int32_t read_long() const override { return Codec::read(bytes()); }
  void clear(int direction) override {
    // As 32-bit numbers these bytes sort highest and lowest.
    std::memset(bytes(), direction > 0 ? 0xFF : 0x00, 4);
  }
  bool is_empty() const override { return read_long() == 0; }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<DateTimeReference>(address);
  }
};

}  // namespace

std::unique_ptr<TypedReference> make_date_time_reference(ValueType type, void* address) {
  if (type == ValueType::TIME) return std::make_unique<DateTimeReference<TimeCodec>>(address);
  return std::make_unique<DateTimeReference<DateCodec>>(address);
}

}  // namespace vtn::detail
