// What the VOB pass hands the IFO repair: where each navpack it met lay in the input stream and
// where it lies (or, dropped, would have lain) in the output, and where both streams end. Old
// sectors are strictly increasing, new ones non-decreasing, and the end lies after every
// navpack in both. An IFO-only update hands over no navpacks and the end (0, 0).
#pragma once

#include <cstdint>

namespace dorvex {

// The sector lookup of the repair over the first n entries of two parallel lists: the first
// entry i with old[i] >= sector and new[i] > floor gives new[i] (inexact when old[i] != sector);
// with none, new[n - 1] and not inexact. With n <= 0 it returns `sector` unchanged and not
// inexact (nothing to look at).
int32_t MapSector(int32_t sector, const int32_t* oldList, const int32_t* newList, int32_t n,
                  int32_t floor, bool& inexact);

class NavpackMap {
  public:
    NavpackMap(const int32_t* oldSectors, const int32_t* newSectors, int32_t navpacks,
               int32_t oldEnd, int32_t newEnd)
        : m_Old(oldSectors),
          m_New(newSectors),
          m_Count(navpacks),
          m_OldEnd(oldEnd),
          m_NewEnd(newEnd) {}

    // Lists in the described form, whose last of n entries is the end.
    static NavpackMap WithEndEntry(const int32_t* oldList, const int32_t* newList, int32_t n) {
        return n > 0 ? NavpackMap(oldList, newList, n - 1, oldList[n - 1], newList[n - 1])
                     : NavpackMap(oldList, newList, 0, 0, 0);
    }

    int32_t Navpacks() const { return m_Count; }
    int32_t Old(int32_t i) const { return m_Old[i]; }
    int32_t New(int32_t i) const { return m_New[i]; }
    int32_t OldEnd() const { return m_OldEnd; }
    int32_t NewEnd() const { return m_NewEnd; }

    // A VOBU start: the lookup over the navpacks alone. With no navpacks the sector stays.
    int32_t MapStart(int32_t sector, int32_t floor, bool& inexact) const {
        return MapSector(sector, m_Old, m_New, m_Count, floor, inexact);
    }
    // The sector after a VOBU's end: the lookup over the navpacks and then the end.
    int32_t MapEnd(int32_t sector, int32_t floor, bool& inexact) const;

  private:
    const int32_t* m_Old;
    const int32_t* m_New;
    int32_t m_Count;
    int32_t m_OldEnd;
    int32_t m_NewEnd;
};

}  // namespace dorvex
