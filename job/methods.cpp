#include "job/methods.h"

#include <cstdlib>

namespace job {

const Method& method(Unfold unfold) {
  for (const Method& m : kMethods) {
    if (m.unfold == unfold) return m;
  }
  // The settings take their method from a row (by name or by the dialog's choice), so a value
  // without one is a fault of the program: running another method in its place would hide it.
  std::abort();
}

const Method* methodNamed(std::string_view name) {
  for (const Method& m : kMethods) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

const Method* methodOfChoice(std::int32_t choice) {
  for (const Method& m : kMethods) {
    if (m.choice == choice) return &m;
  }
  return nullptr;
}

}  // namespace job
