// The operations of the comma-delimited driver, one function each, as the driver's operation
// table (basic_driver.cpp) calls them after the state check. Each returns 0, NO_REPORT or the
// error code of the call.
#pragma once

#include <cstdint>

#include "runtime/files/basic/basic_instance.hpp"
#include "runtime/files/call_sequence.hpp"

namespace vtn::basic {

BasicInstance& instance_of(FileCall& call);

// The file and its life (basic_file_operations.cpp).
int32_t open_file(FileCall& call);
int32_t close_file(FileCall& call);
int32_t create_file(FileCall& call);
int32_t remove_file(FileCall& call);
int32_t copy_file(FileCall& call);
int32_t rename_file(FileCall& call);
int32_t empty_file(FileCall& call);
int32_t flush_file(FileCall& call);
int32_t lock_file(FileCall& call);
int32_t lock_file_seconds(FileCall& call);
int32_t unlock_file(FileCall& call);
int32_t send_option(FileCall& call);
int32_t file_name(FileCall& call);

// Reading (basic_reading.cpp).
int32_t set_file(FileCall& call);
int32_t set_file_pointer(FileCall& call);
int32_t reset_file(FileCall& call);
int32_t next_record(FileCall& call);
int32_t get_record(FileCall& call);
int32_t reget_record(FileCall& call);
int32_t end_of_file(FileCall& call);
int32_t pointer_of(FileCall& call);
int32_t position_of(FileCall& call);
int32_t bytes_of(FileCall& call);
int32_t clear_record_buffer(FileCall& call);

// Writing (basic_writing.cpp).
int32_t add_record(FileCall& call);
int32_t add_record_length(FileCall& call);
int32_t put_record(FileCall& call);
int32_t put_record_pointer(FileCall& call);
int32_t put_record_pointer_length(FileCall& call);

// Shared by the three: the driver's counted lock (0 or 32 / a system error), the file size as
// reading sees it, and a system failure as the call's code.
int32_t take_lock(BasicInstance& in);
void release_lock(BasicInstance& in);
bool refresh_size(BasicInstance& in);
int32_t system_failure();

}  // namespace vtn::basic
