// The consistency checker of a whole record file (declared in record_file.hpp as
// check_record_file). It walks the zones, every page reachable from the root in key order, and
// the page log, and reports the first fault:
// - zones: ordered, disjoint, whole pages (0 "zones");
// - pages: each decodes (its own check number), sits at the start of a page of its zone, is
//   reached exactly once, and every page of every zone is reached (0 "page ... not reached");
// - tree: a child's level is one below its parent's (231), no page but the root is empty (232),
//   every index record carries its child's first key (0), keys strictly increase within and
//   across pages (0; two equal keys are damage even though each page decodes), and no page is
//   over the split limits (0);
// - the page log is empty or can be walked (2172).
// The file is checked as this process sees it: pages changed in memory as they stand there.
#pragma once

#include "runtime/files/tarnwell/record_file.hpp"
