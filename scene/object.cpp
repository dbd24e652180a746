#include "scene/object.h"

#include <algorithm>
#include <string>

namespace scene {

const char* Tag::typeWord(std::int32_t type) {
  switch (type) {
    case sdk::kTagTexture: return "texture";
    case sdk::kTagUVW: return "uvw";
    case sdk::kTagPolygonSelection: return "selection";
    case sdk::kTagEdgeSelection: return "edges";
    case sdk::kTagSmoothing: return "smoothing";
    case sdk::kTagAnnotation: return "annotation";
    default: return nullptr;
  }
}

Key* Curve::keyAt(Time time) {
  time = normalised(time);
  auto it = std::lower_bound(keys.begin(), keys.end(), time,
                             [](const std::unique_ptr<Key>& k, Time t) { return compare(k->time, t) < 0; });
  if (it != keys.end() && compare((*it)->time, time) == 0) return it->get();
  auto key = std::make_unique<Key>();
  key->time = time;
  return keys.insert(it, std::move(key))->get();
}

std::int32_t Curve::valueAt(Time time, std::int32_t fallback) const {
  if (keys.empty()) return fallback;
  if (compare(time, keys.front()->time) <= 0) return keys.front()->value;
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    const Key& a = *keys[i];
    const Key& b = *keys[i + 1];
    if (compare(time, b.time) >= 0) continue;
    if (a.interpolation == sdk::kInterpolationStep) return a.value;
    // Linear between a and b, rounded to the nearest integer.
    const double ta = static_cast<double>(a.time.numerator) / static_cast<double>(a.time.denominator);
    const double tb = static_cast<double>(b.time.numerator) / static_cast<double>(b.time.denominator);
    const double t = static_cast<double>(time.numerator) / static_cast<double>(time.denominator);
    const double f = (t - ta) / (tb - ta);
    return static_cast<std::int32_t>(a.value + f * (b.value - a.value) + 0.5);
  }
  return keys.back()->value;
}

Tag* Object::tag(std::int32_t tagType, std::int32_t index) const {
  if (index < 0) return nullptr;
  for (const auto& t : tags) {
    if (t->type != tagType) continue;
    if (index-- == 0) return t.get();
  }
  return nullptr;
}

Tag* Object::addTag(std::int32_t tagType, const std::string& tagName) {
  auto t = std::make_unique<Tag>();
  t->type = tagType;
  t->name = tagName;
  tags.push_back(std::move(t));
  return tags.back().get();
}

std::int32_t Object::visibilityAt(std::int32_t parameter, Time time) const {
  const std::int32_t fixed =
      parameter == sdk::kObjectEditorVisibility ? editorVisibility : renderVisibility;
  for (const auto& track : tracks) {
    if (track->parameter == parameter && track->curve) return track->curve->valueAt(time, fixed);
  }
  return fixed;
}

bool Object::convertible() const {
  return type == sdk::kObjectPolygon || type == sdk::kObjectCube || type == sdk::kObjectPlane ||
         type == sdk::kObjectSphere;
}

const char* Object::typeWord(std::int32_t type) {
  switch (type) {
    case sdk::kObjectPolygon: return "polygon";
    case sdk::kObjectNull: return "null";
    case sdk::kObjectLight: return "light";
    case sdk::kObjectCube: return "cube";
    case sdk::kObjectPlane: return "plane";
    case sdk::kObjectSphere: return "sphere";
    default: return nullptr;
  }
}

std::int32_t Object::typeFromWord(const std::string& word) {
  for (std::int32_t type : {sdk::kObjectPolygon, sdk::kObjectNull, sdk::kObjectLight,
                            sdk::kObjectCube, sdk::kObjectPlane, sdk::kObjectSphere}) {
    if (word == typeWord(type)) return type;
  }
  return 0;
}

}  // namespace scene
