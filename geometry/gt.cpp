#include "geometry/gt.h"

#include <iomanip>
#include <ostream>
#include <streambuf>

namespace foldra {

namespace {

/// A stream buffer that takes every character and keeps none.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::uint64_t nextSerial = 0;

}  // namespace

std::ostream& geometryTraceStream() {
  static Discard buffer;
  static std::ostream stream(&buffer);
  return stream;
}

std::ostream& pieceTraceStream() {
  static Discard buffer;
  static std::ostream stream(&buffer);
  return stream;
}

gt::gt(std::int32_t object, std::int32_t ordinal)
    : trace(&geometryTraceStream()),
      objectIndex(object),
      objectOrdinal(ordinal),
      serial(nextSerial++) {}

void releaseTabs(gt& t) {
  for (int k = 0; k < 3; ++k) releaseTab(t, k);
}

void releaseTab(gt& t, int k) {
  t.Lugs[k] = LugPair{};
  t.placedLugs[k] = LugPair{};
}

std::ostream& writePoint(std::ostream& out, Vec3 v) {
  return out << std::fixed << std::setprecision(3) << '(' << v.x << ',' << v.y << ',' << v.z << ')';
}

std::ostream& operator<<(std::ostream& out, const gt& t) {
  out << "P:";
  writePoint(out, t.P[0]) << ", ";
  writePoint(out, t.P[1]) << ", ";
  writePoint(out, t.P[2]);
  out << ", p:";
  writePoint(out, t.p[0]) << ", ";
  writePoint(out, t.p[1]) << ", ";
  writePoint(out, t.p[2]);
  return out;
}

}  // namespace foldra
