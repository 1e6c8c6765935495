// Zones: where the pages of each size live in a record file.
//
// The pages of unit size i (i x 256 bytes) fill zone i, page numbers [start[i], end[i]) in steps
// of i; zones lie in the file in increasing order of i with free gaps between them. Entry 0 of the
// zone tables is not used: below zone 1 lies page 0.
//
//   zone 1        gap   zone 2            gap      zone 3 ...
//   [p p p p p p]  ..   [pp pp pp pp]      ....     [ppp ppp]
//
// Allocating in zone i grows it downward when the gap below holds i units, possibly after
// shifting the zones below down (zone 1 never grows downward); otherwise the zones above shift up
// (their first pages move past their ends, the top zone grows at the end of the file) and zone i
// grows upward. Freeing a page moves the zone's last page into the hole. Compaction (at every
// flush) leaves the gap below every zone i from 2 on smaller than one of its pages.
//
// Moving a page is the caller's business (the page must be renumbered and its parent pointer
// fixed): Zones calls the mover with the page's number while the header still places it in its
// zone, and changes the zone bounds afterwards.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/files/tarnwell/file_header.hpp"

namespace vtn::tarnwell {

using PageMover = std::function<void(int32_t from, int32_t to)>;

class Zones {
 public:
  Zones(FileHeader& header, PageMover move) : h_(header), move_(std::move(move)) {}

  // A free page number in zone `unit` (1..59), room made as described above.
  int32_t allocate(int unit);
  // Gives back `page` of zone `unit`. REQUIRES: no page is numbered `page` any more.
  void free(int unit, int32_t page);
  void compact();

  // Whether zone i holds no page.
  bool empty(int i) const { return h_.zone_start[i] == h_.zone_end[i]; }

 private:
  int64_t end_below(int i) const { return i == 1 ? 0 : h_.zone_end[i - 1]; }
  int64_t gap_below(int i) const { return h_.zone_start[i] - end_below(i); }
  bool can_make_room_below(int i, int64_t need) const;
  void make_room_below(int i, int64_t need);
  void make_room_above(int i, int64_t need);
  void shift_up(int j, int64_t units);
  // Whether zones j to the top are empty, all at the same place.
  bool only_empty_zones_from(int j) const;
  void move(int32_t from, int32_t to) { move_(from, to); }

  FileHeader& h_;
  PageMover move_;
};

}  // namespace vtn::tarnwell
