#include "registry/alternation.h"

#include <algorithm>
#include <utility>

namespace tavsn::registry {

Passing PassingOf(const std::vector<Shown>& shown) {
  std::vector<std::pair<Time, MachineId>> sightings;
  for (const Shown& s : shown) {
    sightings.emplace_back(s.first_seen, s.machine);
    sightings.emplace_back(s.last_seen, s.machine);
  }
  std::sort(sightings.begin(), sightings.end());
  Passing passing;
  std::vector<MachineId> held_before;
  MachineId holder = 0;
  for (std::size_t begin = 0; begin < sightings.size();) {
    std::size_t end = begin;
    std::vector<MachineId> now;  // the machines seen at this second, distinct
    for (; end < sightings.size() && sightings[end].first == sightings[begin].first; ++end) {
      if (now.empty() || now.back() != sightings[end].second) now.push_back(sightings[end].second);
    }
    // The holder keeps it through a second it was seen in: only the other
    // machines of that second take it over.
    const auto held = std::find(now.begin(), now.end(), holder);
    if (held != now.end()) std::rotate(now.begin(), held, held + 1);
    for (MachineId machine : now) {
      if (holder != 0 && machine != holder) {
        ++passing.handovers;
        if (std::find(held_before.begin(), held_before.end(), machine) != held_before.end()) ++passing.returns;
        held_before.push_back(holder);
      }
      holder = machine;
    }
    begin = end;
  }
  return passing;
}

}  // namespace tavsn::registry
