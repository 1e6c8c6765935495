// The evaluator's side of the record filters of the file drivers (a filtered index build,
// BUILD(index, components, filter)): installs the compiler that turns a filter text into a compiled
// Expression over the table's fields.
//
// The fields are bound, in a scope of their own that keeps the program's bindings visible, under
// their labels with and without the record's prefix ("PNM:NUMBER" and "NUMBER"); a field of the
// table hides a program binding of the same name inside the filter. The filter reads the record
// buffer anew for every record. Dimensioned fields are not bound.
#pragma once

namespace vtn {

// Installs the compiler; calling it again does no harm. Linking this file installs it as well,
// and the run-time's CMake target and pkg-config file keep it in every program they link.
void install_record_filters();

}  // namespace vtn
