#include "runtime/module_interface.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>

#include "scene/neighbor.h"

namespace runtime {

namespace {

// Handle conversions: the opaque handles of the plug-in interface are our own objects.
scene::Document* doc(sdk::Document* d) { return reinterpret_cast<scene::Document*>(d); }
sdk::Document* handle(scene::Document* d) { return reinterpret_cast<sdk::Document*>(d); }
scene::Object* obj(sdk::Object* o) { return reinterpret_cast<scene::Object*>(o); }
sdk::Object* handle(scene::Object* o) { return reinterpret_cast<sdk::Object*>(o); }
scene::Tag* tag(sdk::Tag* t) { return reinterpret_cast<scene::Tag*>(t); }
sdk::Tag* handle(scene::Tag* t) { return reinterpret_cast<sdk::Tag*>(t); }
scene::Material* mat(sdk::Material* m) { return reinterpret_cast<scene::Material*>(m); }
sdk::Material* handle(scene::Material* m) { return reinterpret_cast<sdk::Material*>(m); }
scene::PolygonSelection* sel(sdk::Selection* s) { return reinterpret_cast<scene::PolygonSelection*>(s); }
sdk::Selection* handle(scene::PolygonSelection* s) { return reinterpret_cast<sdk::Selection*>(s); }
scene::NeighborSearch* nbs(sdk::NeighborSearch* n) { return reinterpret_cast<scene::NeighborSearch*>(n); }
scene::Track* trk(sdk::Track* t) { return reinterpret_cast<scene::Track*>(t); }
scene::Curve* crv(sdk::Curve* c) { return reinterpret_cast<scene::Curve*>(c); }
scene::Key* key(sdk::Key* k) { return reinterpret_cast<scene::Key*>(k); }
DialogWindow* win(sdk::Dialog* w) { return reinterpret_cast<DialogWindow*>(w); }

struct ObjectListImpl {
  std::vector<scene::Object*> items;
};
ObjectListImpl* list(sdk::ObjectList* l) { return reinterpret_cast<ObjectListImpl*>(l); }

/// The object after `o` among its siblings (its parent's children or its document's top level).
scene::Object* siblingAfter(scene::Object* o) {
  const auto* siblings = o->parent() ? &o->parent()->children : nullptr;
  if (!siblings) {
    if (!o->document()) return nullptr;
    siblings = &o->document()->objects();
  }
  for (std::size_t i = 0; i + 1 < siblings->size(); ++i) {
    if ((*siblings)[i].get() == o) return (*siblings)[i + 1].get();
  }
  return nullptr;
}

Gadget* gadget(sdk::Dialog* window, std::int32_t id, GadgetDescription::Kind kind) {
  if (!window) return nullptr;
  auto& gadgets = win(window)->gadgets;
  auto it = gadgets.find(id);
  if (it == gadgets.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

}  // namespace

// Texts.

std::int32_t ModuleInterface::compareText(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string ModuleInterface::intToText(std::int64_t value) { return std::to_string(value); }

std::string ModuleInterface::realToText(double value, std::int32_t digitsBefore,
                                        std::int32_t digitsAfter, bool exponent, char fill) {
  char buffer[400];
  std::to_chars_result r;
  if (exponent) {
    r = digitsAfter >= 0 ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, digitsAfter)
                         : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  } else if (digitsAfter >= 0) {
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digitsAfter);
  } else {
    // The host shows numbers with the precision of its 32-bit values: the shortest text that
    // reads back as the same 32-bit float.
    r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value), std::chars_format::fixed);
  }
  std::string text(buffer, r.ptr);
  if (digitsBefore > 0) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t dot = text.find_first_of(".e");
    const std::size_t integerDigits = (dot == std::string::npos ? text.size() : dot) - (negative ? 1 : 0);
    if (integerDigits < static_cast<std::size_t>(digitsBefore)) {
      text.insert(negative ? 1 : 0, static_cast<std::size_t>(digitsBefore) - integerDigits, fill);
    }
  }
  return text;
}

double ModuleInterface::textToReal(const std::string& text, std::int32_t base, bool* error) {
  auto fail = [&]() {
    if (error) *error = true;
    return 0.0;
  };
  if (error) *error = false;
  if (base != 10) return fail();
  const auto a = text.find_first_not_of(" \t");
  if (a == std::string::npos) return fail();
  const auto b = text.find_last_not_of(" \t");
  const char* first = text.data() + a;
  const char* last = text.data() + b + 1;
  if (*first == '+') ++first;
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return fail();
  return value;
}

// Console, status bar, events.

void ModuleInterface::consolePrint(const std::string& line) {
  host_.console_.push_back(line);
}

void ModuleInterface::statusSet(std::int32_t percent, const std::string& text) {
  if (host_.status_) host_.status_(std::clamp(percent, 0, 100), text);
}

void ModuleInterface::statusClear() {
  if (host_.status_) host_.status_(-1, "");
}

void ModuleInterface::interactionStart() { ++host_.events_.interactionStarts; }

void ModuleInterface::eventAdd(std::int32_t flags) {
  ++host_.events_.changeEvents;
  host_.events_.eventFlags.push_back(flags);
  if (host_.functions_.hook) host_.functions_.hook(host_.active_.get());
}

void ModuleInterface::drawViews(std::int32_t flags, void*) {
  ++host_.events_.redraws;
  host_.events_.redrawFlags.push_back(flags);
}

sdk::FunctionTable* ModuleInterface::functionTable() { return &host_.functions_; }

// Plug-in resources and registration.

std::string ModuleInterface::modulePath() { return folder_; }

bool ModuleInterface::loadResources(const std::string& folder) {
  Resources loaded;
  if (!runtime::loadResources(folder, &loaded, &resourceError_)) return false;
  resources_ = std::move(loaded);
  loaded_ = true;
  resourceError_.clear();
  return true;
}

void ModuleInterface::freeResources() {
  resources_ = Resources{};
  loaded_ = false;
}

std::string ModuleInterface::loadString(std::int32_t id) {
  auto it = resources_.strings.find(id);
  return it == resources_.strings.end() ? std::string() : it->second;
}

bool ModuleInterface::registerCommand(std::int32_t id, const std::string& name, std::int32_t options,
                                      const std::string& icon, const std::string& help,
                                      sdk::CommandClient* command) {
  if (!command) return false;
  std::unique_ptr<sdk::CommandClient> owned(command);
  if (host_.commands_.count(id) != 0 || name.empty()) return false;
  Command c;
  c.id = id;
  c.name = name;
  c.options = options;
  c.iconFile = icon;
  c.help = help;
  c.module = module_;
  if (!icon.empty()) {
    std::string error;
    const std::string path = (std::filesystem::path(resources_.folder.empty() ? folder_ + "/res" : resources_.folder) / icon).string();
    if (!loadImage(path, &c.icon, &error)) host_.warnings_.push_back("command \"" + name + "\": icon " + error);
  }
  c.client = std::move(owned);
  host_.commands_.emplace(id, std::move(c));
  return true;
}

// Dialogs.

bool ModuleInterface::dialogOpen(sdk::DialogClient* client, std::int32_t kind, std::int32_t pluginId,
                                 std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  // A headless host can only run dialogs that wait for their script: modal ones.
  if (!client || kind != sdk::kDialogModal) return false;
  return host_.openDialog(client, pluginId);
}

void ModuleInterface::dialogClose(sdk::Dialog* window) {
  if (window) win(window)->closed = true;
}

bool ModuleInterface::dialogLoadDescription(sdk::Dialog* window, std::int32_t id) {
  if (!window) return false;
  auto it = resources_.dialogs.find(id);
  if (it == resources_.dialogs.end()) return false;
  DialogWindow& w = *win(window);
  w.title = it->second.title;
  w.gadgets.clear();
  for (const GadgetDescription& g : it->second.gadgets) {
    Gadget gadget;
    gadget.kind = g.kind;
    gadget.entries = g.entries;
    if (g.kind == GadgetDescription::Kind::Choice && !g.entries.empty()) gadget.number = g.entries.front().first;
    w.gadgets[g.id] = std::move(gadget);
  }
  return true;
}

bool ModuleInterface::dialogSetBool(sdk::Dialog* window, std::int32_t id, bool value) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Check);
  if (!g) return false;
  g->checked = value;
  return true;
}

bool ModuleInterface::dialogSetInt(sdk::Dialog* window, std::int32_t id, std::int32_t value,
                                   std::int32_t min, std::int32_t max, std::int32_t step) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Choice);
  if (!g) g = gadget(window, id, GadgetDescription::Kind::Integer);
  if (!g) return false;
  g->number = value;
  g->minimum = min;
  g->maximum = max;
  g->step = step;
  return true;
}

bool ModuleInterface::dialogSetText(sdk::Dialog* window, std::int32_t id, const std::string& value) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Text);
  if (!g) return false;
  g->text = value;
  return true;
}

bool ModuleInterface::dialogGetBool(sdk::Dialog* window, std::int32_t id, bool* value) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Check);
  if (!g || !value) return false;
  *value = g->checked;
  return true;
}

bool ModuleInterface::dialogGetInt(sdk::Dialog* window, std::int32_t id, std::int32_t* value) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Choice);
  if (!g) g = gadget(window, id, GadgetDescription::Kind::Integer);
  if (!g || !value) return false;
  *value = g->number;
  return true;
}

bool ModuleInterface::dialogGetText(sdk::Dialog* window, std::int32_t id, std::string* value) {
  Gadget* g = gadget(window, id, GadgetDescription::Kind::Text);
  if (!g || !value) return false;
  *value = g->text;
  return true;
}

// Documents.

sdk::Document* ModuleInterface::activeDocument() { return handle(host_.active_.get()); }

sdk::Document* ModuleInterface::copySelection(sdk::Document* document, sdk::ObjectList* objects) {
  if (!document || !objects) return nullptr;
  return handle(host_.adoptDocument(scene::copySelection(*doc(document), list(objects)->items)));
}

sdk::Document* ModuleInterface::polygonForm(sdk::Document* document, std::int32_t) {
  if (!document) return nullptr;
  return handle(host_.adoptDocument(scene::polygonForm(*doc(document))));
}

void ModuleInterface::freeDocument(sdk::Document* document) {
  if (document) host_.freeDocument(doc(document));
}

sdk::Object* ModuleInterface::firstObject(sdk::Document* document) {
  if (!document || doc(document)->objects().empty()) return nullptr;
  return handle(doc(document)->objects().front().get());
}

sdk::Material* ModuleInterface::firstMaterial(sdk::Document* document) {
  if (!document || doc(document)->materials().empty()) return nullptr;
  return handle(doc(document)->materials().front().get());
}

void ModuleInterface::activeObjects(sdk::Document* document, sdk::ObjectList* l, std::int32_t flags) {
  if (!document || !l) return;
  for (scene::Object* o : doc(document)->activeObjects((flags & sdk::kActiveObjectsChildren) != 0)) {
    list(l)->items.push_back(o);
  }
}

bool ModuleInterface::insertObject(sdk::Document* document, sdk::Object* object, sdk::Object* parent,
                                   sdk::Object* pred, std::int32_t) {
  if (!document || !object) return false;
  scene::Document& d = *doc(document);
  // Check the place first, so that a refused insertion leaves the object where it was.
  if (parent && (obj(parent)->document() != &d || !d.isListed(obj(parent)))) return false;
  if (pred && (obj(pred)->document() != &d || obj(pred)->parent() != obj(parent) || !d.isListed(obj(pred)))) {
    return false;
  }
  std::unique_ptr<scene::Object> owned;
  auto& pool = host_.freeObjects_;
  auto it = std::find_if(pool.begin(), pool.end(), [&](const auto& o) { return o.get() == obj(object); });
  if (it != pool.end()) {
    owned = std::move(*it);
    pool.erase(it);
  } else {
    owned = d.takeRemoved(obj(object));
  }
  if (!owned) return false;
  return d.insert(std::move(owned), obj(parent), obj(pred)) != nullptr;
}

void ModuleInterface::startUndo(sdk::Document* document) {
  if (document) doc(document)->startUndo();
}

void ModuleInterface::endUndo(sdk::Document* document) {
  if (document) doc(document)->endUndo();
}

bool ModuleInterface::addUndo(sdk::Document* document, std::int32_t kind, void* element) {
  if (!document) return false;
  return doc(document)->addUndo(kind, element);
}

bool ModuleInterface::setDocumentTime(sdk::Document* document, std::int32_t parameter, sdk::Time value) {
  if (!document || value.denominator == 0) return false;
  scene::TimeSettings& t = doc(document)->time;
  value = scene::normalised(value);
  switch (parameter) {
    case sdk::kDocumentTime: t.current = value; return true;
    case sdk::kDocumentMinTime: t.minimum = value; return true;
    case sdk::kDocumentMaxTime: t.maximum = value; return true;
    case sdk::kDocumentLoopMinTime: t.loopMinimum = value; return true;
    case sdk::kDocumentLoopMaxTime: t.loopMaximum = value; return true;
    default: return false;
  }
}

bool ModuleInterface::setDocumentInt(sdk::Document* document, std::int32_t parameter, std::int32_t value) {
  if (!document || parameter != sdk::kDocumentFps || value <= 0) return false;
  doc(document)->time.fps = value;
  return true;
}

void ModuleInterface::messageDocument(sdk::Document* document, std::int32_t) {
  if (document) ++host_.events_.documentUpdates;
}

bool ModuleInterface::modelingCommand(std::int32_t command, sdk::Document*, sdk::Object* object) {
  if (!object || command != sdk::kCommandTriangulate || obj(object)->type != sdk::kObjectPolygon) return false;
  scene::triangulate(*obj(object));
  return true;
}

// Object lists.

sdk::ObjectList* ModuleInterface::newObjectList() {
  return reinterpret_cast<sdk::ObjectList*>(new ObjectListImpl);
}

void ModuleInterface::freeObjectList(sdk::ObjectList* l) { delete list(l); }

std::int32_t ModuleInterface::listCount(sdk::ObjectList* l) {
  return l ? static_cast<std::int32_t>(list(l)->items.size()) : 0;
}

sdk::Object* ModuleInterface::listEntry(sdk::ObjectList* l, std::int32_t index) {
  if (!l || index < 0 || static_cast<std::size_t>(index) >= list(l)->items.size()) return nullptr;
  return handle(list(l)->items[static_cast<std::size_t>(index)]);
}

void ModuleInterface::listAppend(sdk::ObjectList* l, sdk::Object* object) {
  if (l && object) list(l)->items.push_back(obj(object));
}

// Objects.

sdk::Object* ModuleInterface::nextObject(sdk::Object* object) {
  if (!object) return nullptr;
  scene::Object* o = obj(object);
  if (!o->document() || !o->document()->isListed(o)) return nullptr;
  return handle(siblingAfter(o));
}

sdk::Object* ModuleInterface::firstChild(sdk::Object* object) {
  if (!object || obj(object)->children.empty()) return nullptr;
  return handle(obj(object)->children.front().get());
}

std::int32_t ModuleInterface::objectType(sdk::Object* object) { return object ? obj(object)->type : 0; }

std::int32_t ModuleInterface::objectRealType(sdk::Object* object) { return objectType(object); }

std::string ModuleInterface::objectName(sdk::Object* object) { return object ? obj(object)->name : std::string(); }

sdk::Object* ModuleInterface::allocObject(std::int32_t type) {
  if (!scene::Object::typeWord(type)) return nullptr;
  auto o = std::make_unique<scene::Object>(type);
  o->name = type == sdk::kObjectPolygon ? "Polygon" : scene::Object::typeWord(type);
  host_.freeObjects_.push_back(std::move(o));
  return handle(host_.freeObjects_.back().get());
}

void ModuleInterface::freeObject(sdk::Object* object) {
  auto& pool = host_.freeObjects_;
  auto it = std::find_if(pool.begin(), pool.end(), [&](const auto& o) { return o.get() == obj(object); });
  if (it != pool.end()) pool.erase(it);
}

bool ModuleInterface::resizePolygonObject(sdk::Object* object, std::int32_t points, std::int32_t polygons) {
  if (!object || obj(object)->type != sdk::kObjectPolygon || points < 0 || polygons < 0) return false;
  obj(object)->points.resize(static_cast<std::size_t>(points));
  obj(object)->polygons.resize(static_cast<std::size_t>(polygons));
  return true;
}

std::int32_t ModuleInterface::dataCount(sdk::Object* object, std::int32_t kind) {
  if (!object) return 0;
  if (kind == sdk::kDataPoint) return static_cast<std::int32_t>(obj(object)->points.size());
  if (kind == sdk::kDataPolygon) return static_cast<std::int32_t>(obj(object)->polygons.size());
  return 0;
}

const sdk::Vector32* ModuleInterface::points(sdk::Object* object) {
  return object ? obj(object)->points.data() : nullptr;
}

sdk::Vector32* ModuleInterface::writablePoints(sdk::Object* object) {
  return object ? obj(object)->points.data() : nullptr;
}

const sdk::Polygon* ModuleInterface::polygons(sdk::Object* object) {
  return object ? obj(object)->polygons.data() : nullptr;
}

sdk::Polygon* ModuleInterface::writablePolygons(sdk::Object* object) {
  return object ? obj(object)->polygons.data() : nullptr;
}

void ModuleInterface::removeObject(sdk::Object* object) {
  if (object && obj(object)->document()) obj(object)->document()->remove(obj(object));
}

void ModuleInterface::messageObject(sdk::Object* object, std::int32_t) {
  if (object) ++host_.events_.objectUpdates;
}

bool ModuleInterface::setObjectInt(sdk::Object* object, std::int32_t parameter, std::int32_t value) {
  if (!object) return false;
  if (parameter == sdk::kObjectEditorVisibility) obj(object)->editorVisibility = value;
  else if (parameter == sdk::kObjectRenderVisibility) obj(object)->renderVisibility = value;
  else return false;
  return true;
}

sdk::Tag* ModuleInterface::objectTag(sdk::Object* object, std::int32_t type, std::int32_t index) {
  return object ? handle(obj(object)->tag(type, index)) : nullptr;
}

bool ModuleInterface::copyTags(sdk::Object* source, sdk::Object* target, std::int32_t, std::int32_t,
                               std::int32_t, void*) {
  if (!source || !target) return false;
  // Copies keep their material links: the materials stay those of the source's document.
  for (const auto& t : obj(source)->tags) {
    obj(target)->tags.push_back(scene::cloneTag(*t, [](scene::Material* m) { return m; }));
  }
  return true;
}

// Animation.

sdk::Track* ModuleInterface::newTrack(sdk::Object* object, std::int32_t parameter) {
  if (!object) return nullptr;
  auto t = std::make_unique<scene::Track>();
  t->parameter = parameter;
  host_.freeTracks_.push_back(std::move(t));
  return reinterpret_cast<sdk::Track*>(host_.freeTracks_.back().get());
}

void ModuleInterface::insertTrack(sdk::Object* object, sdk::Track* track) {
  if (!object || !track) return;
  auto& pool = host_.freeTracks_;
  auto it = std::find_if(pool.begin(), pool.end(), [&](const auto& t) { return t.get() == trk(track); });
  if (it == pool.end()) return;
  obj(object)->tracks.push_back(std::move(*it));
  pool.erase(it);
}

sdk::Curve* ModuleInterface::trackCurve(sdk::Track* track, std::int32_t kind, bool create) {
  if (!track || kind != sdk::kCurveValue) return nullptr;
  if (!trk(track)->curve && create) trk(track)->curve = std::make_unique<scene::Curve>();
  return reinterpret_cast<sdk::Curve*>(trk(track)->curve.get());
}

sdk::Key* ModuleInterface::addKey(sdk::Curve* curve, sdk::Time time, std::int32_t) {
  if (!curve || time.denominator == 0) return nullptr;
  return reinterpret_cast<sdk::Key*>(crv(curve)->keyAt(time));
}

bool ModuleInterface::setKeyInterpolation(sdk::Key* k, sdk::Curve*, std::int32_t kind) {
  if (!k) return false;
  key(k)->interpolation = kind;
  return true;
}

bool ModuleInterface::setKeyValue(sdk::Key* k, sdk::Curve*, std::int32_t value) {
  if (!k) return false;
  key(k)->value = value;
  return true;
}

// Tags.

std::string ModuleInterface::tagName(sdk::Tag* t) { return t ? tag(t)->name : std::string(); }

sdk::Material* ModuleInterface::tagMaterial(sdk::Tag* t, std::int32_t) {
  return t && tag(t)->type == sdk::kTagTexture ? handle(tag(t)->material) : nullptr;
}

bool ModuleInterface::setTagMaterial(sdk::Tag* t, sdk::Material* m) {
  if (!t || tag(t)->type != sdk::kTagTexture) return false;
  tag(t)->material = mat(m);
  return true;
}

bool ModuleInterface::getTagText(sdk::Tag* t, std::int32_t parameter, std::string* value) {
  if (!t || !value || tag(t)->type != sdk::kTagTexture || parameter != sdk::kTextureRestriction) return false;
  *value = tag(t)->restriction;
  return true;
}

std::int32_t ModuleInterface::uvwEntryCount(sdk::Tag* t) {
  return t && tag(t)->type == sdk::kTagUVW ? static_cast<std::int32_t>(tag(t)->uvw.size()) : 0;
}

bool ModuleInterface::uvwGet(sdk::Tag* t, std::int32_t polygon, sdk::UVWEntry* entry) {
  if (!entry || polygon < 0 || polygon >= uvwEntryCount(t)) return false;
  *entry = tag(t)->uvw[static_cast<std::size_t>(polygon)];
  return true;
}

bool ModuleInterface::uvwSet(sdk::Tag* t, std::int32_t polygon, const sdk::UVWEntry& entry) {
  if (polygon < 0 || polygon >= uvwEntryCount(t)) return false;
  tag(t)->uvw[static_cast<std::size_t>(polygon)] = entry;
  return true;
}

bool ModuleInterface::uvwResize(sdk::Tag* t, std::int32_t count) {
  if (!t || tag(t)->type != sdk::kTagUVW || count < 0) return false;
  tag(t)->uvw.resize(static_cast<std::size_t>(count));
  return true;
}

sdk::Selection* ModuleInterface::tagSelection(sdk::Tag* t) {
  const bool selects = t && (tag(t)->type == sdk::kTagPolygonSelection || tag(t)->type == sdk::kTagEdgeSelection);
  return selects ? handle(&tag(t)->selection) : nullptr;
}

void ModuleInterface::messageTag(sdk::Tag* t, std::int32_t) {
  if (t) ++host_.events_.tagUpdates;
}

// Polygon selections.

bool ModuleInterface::selectionRange(sdk::Selection* s, std::int32_t segment, std::int32_t maxElements,
                                     std::int32_t* first, std::int32_t* last) {
  if (!s || !first || !last) return false;
  return sel(s)->range(segment, maxElements, first, last);
}

void ModuleInterface::selectionClear(sdk::Selection* s) {
  if (s) sel(s)->clear();
}

bool ModuleInterface::selectionAdd(sdk::Selection* s, std::int32_t index) {
  if (!s || index < 0) return false;
  sel(s)->add(index);
  return true;
}

// Materials.

namespace {
scene::Material* materialAt(scene::Material* m, int step) {
  if (!m || !m->document) return nullptr;
  const int i = m->document->materialIndex(m) + step;
  const auto& list = m->document->materials();
  if (i < 0 || static_cast<std::size_t>(i) >= list.size()) return nullptr;
  return list[static_cast<std::size_t>(i)].get();
}
}  // namespace

const scene::Material* ModuleInterface::material(sdk::Material* m) { return mat(m); }

sdk::Material* ModuleInterface::nextMaterial(sdk::Material* m) { return handle(materialAt(mat(m), 1)); }
sdk::Material* ModuleInterface::previousMaterial(sdk::Material* m) { return handle(materialAt(mat(m), -1)); }
std::string ModuleInterface::materialName(sdk::Material* m) { return m ? mat(m)->name : std::string(); }
std::int32_t ModuleInterface::materialType(sdk::Material* m) { return m ? mat(m)->type : 0; }
std::string ModuleInterface::materialTypeName(sdk::Material* m) {
  return m ? scene::Material::typeName(mat(m)->type) : std::string();
}
bool ModuleInterface::compareMaterials(sdk::Material* a, sdk::Material* b) {
  return a && b && mat(a)->settingsEqual(*mat(b));
}

// Neighbour search.

sdk::NeighborSearch* ModuleInterface::newNeighborSearch() {
  return reinterpret_cast<sdk::NeighborSearch*>(new scene::NeighborSearch);
}

void ModuleInterface::freeNeighborSearch(sdk::NeighborSearch* search) { delete nbs(search); }

bool ModuleInterface::neighborInit(sdk::NeighborSearch* search, std::int32_t pointCount,
                                   const sdk::Polygon* polygons, std::int32_t polygonCount, sdk::Selection*) {
  return search && nbs(search)->init(pointCount, polygons, polygonCount);
}

std::int32_t ModuleInterface::neighborOf(sdk::NeighborSearch* search, std::int32_t a, std::int32_t b,
                                         std::int32_t polygon) {
  return search ? nbs(search)->neighbor(a, b, polygon) : -1;
}

}  // namespace runtime
