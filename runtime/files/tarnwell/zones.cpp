#include "runtime/files/tarnwell/zones.hpp"

#include <array>

#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckTooMuchRoomAbove = 1781;

int64_t round_up(int64_t units, int page_units) {
  return (units + page_units - 1) / page_units * page_units;
}
}  // namespace

int32_t Zones::allocate(int i) {
  if (i >= 2 && can_make_room_below(i, i)) {
    make_room_below(i, i);
    h_.zone_start[i] -= i;
    return h_.zone_start[i];
  }
  make_room_above(i, i);
  const int32_t page = h_.zone_end[i];
  h_.zone_end[i] += i;
  return page;
}

void Zones::free(int i, int32_t page) {
  const int32_t last = h_.zone_end[i] - i;
  if (page != last) move(last, page);
  h_.zone_end[i] -= i;
}

void Zones::compact() {
  for (int i = 2; i <= kMaxUnits; ++i) {
    const int32_t target = h_.zone_end[i - 1];
    const int32_t pages = (h_.zone_end[i] - h_.zone_start[i]) / i;
    if (pages <= 1) {
      if (h_.zone_start[i] == target) continue;
      if (pages == 1) move(h_.zone_start[i], target);
      h_.zone_start[i] = target;
      h_.zone_end[i] = target + pages * i;
      continue;
    }
    while (gap_below(i) >= i) {
      move(h_.zone_end[i] - i, h_.zone_start[i] - i);
      h_.zone_start[i] -= i;
      h_.zone_end[i] -= i;
    }
  }
}

bool Zones::only_empty_zones_from(int j) const {
  const int32_t at = h_.zone_start[j];
  bool same = true;
  for (int z = j; z <= kMaxUnits; ++z) same &= h_.zone_start[z] == at && h_.zone_end[z] == at;
  return same;
}

// Zone j (from 2 on) can shift down by whole pages of j units while the gap below it lets it.
bool Zones::can_make_room_below(int i, int64_t need) const {
  const int64_t gap = gap_below(i);
  if (gap >= need) return true;
  const int j = i - 1;
  if (j < 2) return false;
  const int64_t short_by = need - gap;
  return can_make_room_below(j, empty(j) ? short_by : round_up(short_by, j));
}

void Zones::make_room_below(int i, int64_t need) {
  const int64_t gap = gap_below(i);
  if (gap >= need) return;
  const int j = i - 1;
  const int64_t short_by = need - gap;
  if (empty(j)) {
    make_room_below(j, short_by);
    h_.zone_start[j] -= static_cast<int32_t>(short_by);
    h_.zone_end[j] -= static_cast<int32_t>(short_by);
    return;
  }
  const int64_t units = round_up(short_by, j);
  make_room_below(j, units);
  for (int64_t moved = 0; moved < units; moved += j) {
    move(h_.zone_end[j] - j, h_.zone_start[j] - j);
    h_.zone_start[j] -= j;
    h_.zone_end[j] -= j;
  }
}

void Zones::make_room_above(int i, int64_t need) {
  if (need > i) raise_internal_error(kCheckTooMuchRoomAbove);
  if (i == kMaxUnits) return;  // the top zone grows at the end of the file
  const int64_t gap = int64_t{h_.zone_start[i + 1]} - h_.zone_end[i];
  if (gap >= need) return;
  shift_up(i + 1, need - gap);
}

// Raises zone j by at least `units`: an empty zone moves as a whole, a zone with pages moves its
// first page past its end, one page at a time. A stretch of empty zones (above the largest pages
// in use, most of the 59) is walked in one loop: each moves by what the gap below the next one
// does not cover; the first zone with pages, if the gaps do not absorb it all, moves its pages;
// the empty zones then take their new bounds, the highest first.
void Zones::shift_up(int j, int64_t units) {
  // Mostly zone j and every zone above it are empty and stand where the zone below ends (as
  // compaction leaves them): they all move up by `units`, in one pass.
  if (units <= j && only_empty_zones_from(j)) {
    for (int z = j; z <= kMaxUnits; ++z) {
      h_.zone_start[z] += static_cast<int32_t>(units);
      h_.zone_end[z] += static_cast<int32_t>(units);
    }
    return;
  }
  std::array<int64_t, kMaxUnits + 1> by;  // set for zones j to last_empty, the ones read
  int last_empty = j - 1;
  int k = j;
  for (; empty(k); ++k) {
    if (units > k) raise_internal_error(kCheckTooMuchRoomAbove);
    by[k] = units;
    last_empty = k;
    if (k == kMaxUnits) break;  // the top zone grows at the end of the file
    const int64_t gap = int64_t{h_.zone_start[k + 1]} - h_.zone_end[k];
    if (gap >= units) break;
    units -= gap;
  }
  if (!empty(k)) {
    for (int64_t moved = 0; moved < units; moved += k) {
      make_room_above(k, k);
      move(h_.zone_start[k], h_.zone_end[k]);
      h_.zone_start[k] += k;
      h_.zone_end[k] += k;
    }
  }
  for (int z = last_empty; z >= j; --z) {
    h_.zone_start[z] += static_cast<int32_t>(by[z]);
    h_.zone_end[z] += static_cast<int32_t>(by[z]);
  }
}

}  // namespace vtn::tarnwell
