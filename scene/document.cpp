#include "scene/document.h"

#include <algorithm>
#include <functional>
#include <map>

namespace scene {

Document::~Document() = default;

void Document::adopt(Object* object, Object* parent, Document* document) {
  object->parent_ = parent;
  std::function<void(Object*)> mark = [&](Object* o) {
    o->document_ = document;
    for (auto& child : o->children) {
      child->parent_ = o;
      mark(child.get());
    }
  };
  mark(object);
}

Object* Document::insert(std::unique_ptr<Object> object, Object* parent, Object* pred) {
  if (!object) return nullptr;
  if (parent && parent->document_ != this) return nullptr;
  auto& siblings = siblingsOf(parent);
  auto at = siblings.begin();
  if (pred) {
    at = std::find_if(siblings.begin(), siblings.end(),
                      [&](const std::unique_ptr<Object>& o) { return o.get() == pred; });
    if (at == siblings.end()) return nullptr;
    ++at;
  }
  Object* raw = object.get();
  siblings.insert(at, std::move(object));
  adopt(raw, parent, this);
  return raw;
}

Object* Document::append(std::unique_ptr<Object> object, Object* parent) {
  if (!object) return nullptr;
  auto& siblings = siblingsOf(parent);
  Object* raw = object.get();
  siblings.push_back(std::move(object));
  adopt(raw, parent, this);
  return raw;
}

void Document::position(Object* object, Object** parent, std::size_t* index) {
  *parent = object->parent_;
  auto& siblings = object->parent_ ? object->parent_->children : objects_;
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i].get() == object) {
      *index = i;
      return;
    }
  }
  *index = siblings.size();
}

std::unique_ptr<Object> Document::detach(Object* object) {
  if (!object) return nullptr;
  // An object below a removed parent is detached from that parent even though the parent is
  // no longer in the tree.
  auto& siblings = object->parent_ ? object->parent_->children : objects_;
  auto it = std::find_if(siblings.begin(), siblings.end(),
                         [&](const std::unique_ptr<Object>& o) { return o.get() == object; });
  if (it == siblings.end()) return nullptr;
  std::unique_ptr<Object> taken = std::move(*it);
  siblings.erase(it);
  adopt(taken.get(), nullptr, nullptr);
  return taken;
}

void Document::remove(Object* object) {
  if (!object || object->document_ != this) return;
  auto taken = detach(object);
  if (!taken) return;
  adopt(taken.get(), nullptr, this);
  removed_.push_back(std::move(taken));
}

bool Document::isListed(const Object* object) const {
  const auto& siblings = object->parent_ ? object->parent_->children : objects_;
  return std::any_of(siblings.begin(), siblings.end(),
                     [&](const std::unique_ptr<Object>& o) { return o.get() == object; });
}

std::unique_ptr<Object> Document::takeRemoved(Object* object) {
  auto it = std::find_if(removed_.begin(), removed_.end(),
                         [&](const std::unique_ptr<Object>& o) { return o.get() == object; });
  if (it == removed_.end()) return nullptr;
  auto taken = std::move(*it);
  removed_.erase(it);
  adopt(taken.get(), nullptr, nullptr);
  return taken;
}

void Document::reinsert(Object* object, Object* parent, std::size_t index) {
  auto taken = takeRemoved(object);
  if (!taken) return;
  auto& siblings = siblingsOf(parent);
  index = std::min(index, siblings.size());
  siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(index), std::move(taken));
  adopt(object, parent, this);
}

std::vector<Object*> Document::allObjects() const {
  std::vector<Object*> out;
  std::function<void(const std::vector<std::unique_ptr<Object>>&)> walk = [&](const auto& list) {
    for (const auto& o : list) {
      out.push_back(o.get());
      walk(o->children);
    }
  };
  walk(objects_);
  return out;
}

std::vector<Object*> Document::activeObjects(bool belowSelected) const {
  std::vector<Object*> out;
  std::function<void(const std::vector<std::unique_ptr<Object>>&)> walk = [&](const auto& list) {
    for (const auto& o : list) {
      if (o->selected) {
        out.push_back(o.get());
        if (!belowSelected) continue;
      }
      walk(o->children);
    }
  };
  walk(objects_);
  return out;
}

void Document::deselectAll() {
  for (Object* o : allObjects()) o->selected = false;
}

Object* Document::findObject(const std::string& objectName) const {
  for (Object* o : allObjects()) {
    if (o->name == objectName) return o;
  }
  return nullptr;
}

Material* Document::addMaterial(std::unique_ptr<Material> material) {
  material->document = this;
  materials_.push_back(std::move(material));
  return materials_.back().get();
}

std::vector<std::unique_ptr<Material>> Document::takeMaterials() {
  std::vector<std::unique_ptr<Material>> taken = std::move(materials_);
  materials_.clear();
  return taken;
}

int Document::materialIndex(const Material* material) const {
  for (std::size_t i = 0; i < materials_.size(); ++i) {
    if (materials_[i].get() == material) return static_cast<int>(i);
  }
  return -1;
}

void Document::startUndo() {
  if (undoDepth_++ == 0) open_.clear();
}

void Document::endUndo() {
  if (undoDepth_ == 0) return;
  if (--undoDepth_ > 0) return;
  for (UndoStep& step : open_) {
    if (step.kind == sdk::kUndoDocumentTime) step.after = time;
  }
  if (!open_.empty()) {
    done_.push_back(std::move(open_));
    undone_.clear();
  }
  open_.clear();
}

bool Document::addUndo(std::int32_t kind, void* element) {
  if (undoDepth_ == 0 || !element) return false;
  UndoStep step;
  step.kind = kind;
  switch (kind) {
    case sdk::kUndoNewObject:
      // Where the new object stands is read when it is undone: the step is recorded before
      // the insertion.
      step.object = static_cast<Object*>(element);
      break;
    case sdk::kUndoRemoveObject:
      // Recorded before the removal: the object still stands where undo must put it back.
      step.object = static_cast<Object*>(element);
      if (step.object->document_ != this || !isListed(step.object)) return false;
      position(step.object, &step.parent, &step.index);
      break;
    case sdk::kUndoDocumentTime:
      if (element != this) return false;
      step.before = time;
      break;
    default:
      return false;
  }
  open_.push_back(step);
  return true;
}

bool Document::undo() {
  if (undoDepth_ > 0 || done_.empty()) return false;
  UndoGroup group = std::move(done_.back());
  done_.pop_back();
  for (auto it = group.rbegin(); it != group.rend(); ++it) {
    UndoStep& step = *it;
    switch (step.kind) {
      case sdk::kUndoNewObject:
        // A new object that was never inserted, or was removed again, has nothing to undo.
        if (step.object && step.object->document_ == this && isListed(step.object)) {
          position(step.object, &step.parent, &step.index);
          remove(step.object);
        } else {
          step.object = nullptr;
        }
        break;
      case sdk::kUndoRemoveObject:
        reinsert(step.object, step.parent, step.index);
        break;
      case sdk::kUndoDocumentTime:
        time = step.before;
        break;
    }
  }
  undone_.push_back(std::move(group));
  return true;
}

bool Document::redo() {
  if (undoDepth_ > 0 || undone_.empty()) return false;
  UndoGroup group = std::move(undone_.back());
  undone_.pop_back();
  for (UndoStep& step : group) {
    switch (step.kind) {
      case sdk::kUndoNewObject:
        if (step.object) reinsert(step.object, step.parent, step.index);
        break;
      case sdk::kUndoRemoveObject:
        remove(step.object);
        break;
      case sdk::kUndoDocumentTime:
        time = step.after;
        break;
    }
  }
  done_.push_back(std::move(group));
  return true;
}

namespace {

/// Copies of materials in another document, and the way from an original to its copy: a
/// texture tag whose material was not copied links to none.
class MaterialCopies {
 public:
  MaterialCopies(Document& target, const std::vector<const Material*>& originals) {
    for (const Material* m : originals) copies_[m] = target.addMaterial(std::make_unique<Material>(*m));
  }
  Material* operator()(Material* original) const {
    auto it = copies_.find(original);
    return it == copies_.end() ? nullptr : it->second;
  }

 private:
  std::map<const Material*, Material*> copies_;
};

std::vector<const Material*> allMaterials(const Document& document) {
  std::vector<const Material*> out;
  for (const auto& m : document.materials()) out.push_back(m.get());
  return out;
}

/// A new, empty document with the source's name and timeline.
std::unique_ptr<Document> emptyLike(const Document& source) {
  auto doc = std::make_unique<Document>();
  doc->name = source.name;
  doc->time = source.time;
  return doc;
}

void collectTextureMaterials(const Object& o, std::vector<bool>& used, const Document& source) {
  for (const auto& tag : o.tags) {
    if (tag->type != sdk::kTagTexture || !tag->material) continue;
    const int index = source.materialIndex(tag->material);
    if (index >= 0) used[static_cast<std::size_t>(index)] = true;
  }
  for (const auto& child : o.children) collectTextureMaterials(*child, used, source);
}

std::unique_ptr<Object> polygonFormOf(const Object& o, const MaterialCopies& mapMaterial) {
  std::unique_ptr<Object> copy;
  if (o.type == sdk::kObjectCube || o.type == sdk::kObjectPlane || o.type == sdk::kObjectSphere) {
    copy = primitiveToPolygons(o);
    // The primitive's own tags come first, then the generated texture coordinates, unless the
    // primitive carried texture coordinates of its own.
    std::vector<std::unique_ptr<Tag>> generated = std::move(copy->tags);
    copy->tags.clear();
    bool hasUVW = false;
    for (const auto& tag : o.tags) {
      hasUVW = hasUVW || tag->type == sdk::kTagUVW;
      copy->tags.push_back(cloneTag(*tag, mapMaterial));
    }
    if (!hasUVW) {
      for (auto& tag : generated) copy->tags.push_back(std::move(tag));
    }
    for (const auto& track : o.tracks) copy->tracks.push_back(cloneTrack(*track));
    copy->children.clear();
  } else {
    copy = cloneObject(o, mapMaterial);
    copy->children.clear();
  }
  for (const auto& child : o.children) copy->children.push_back(polygonFormOf(*child, mapMaterial));
  return copy;
}

}  // namespace

std::unique_ptr<Document> copySelection(const Document& source, const std::vector<Object*>& list) {
  auto doc = emptyLike(source);
  auto listed = [&](const Object* o) { return std::find(list.begin(), list.end(), o) != list.end(); };
  std::vector<const Object*> roots;
  for (const Object* o : list) {
    if (!o || o->document() != &source) continue;
    bool below = false;
    for (const Object* p = o->parent(); p && !below; p = p->parent()) below = listed(p);
    if (!below && std::find(roots.begin(), roots.end(), o) == roots.end()) roots.push_back(o);
  }
  std::vector<bool> used(source.materials().size(), false);
  for (const Object* o : roots) collectTextureMaterials(*o, used, source);
  std::vector<const Material*> materials;
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (used[i]) materials.push_back(source.materials()[i].get());
  }
  const MaterialCopies copies(*doc, materials);
  for (const Object* o : roots) doc->append(cloneObject(*o, copies));
  return doc;
}

std::unique_ptr<Document> cloneDocument(const Document& source) {
  auto doc = emptyLike(source);
  const MaterialCopies copies(*doc, allMaterials(source));
  for (const auto& o : source.objects()) doc->append(cloneObject(*o, copies));
  return doc;
}

void moveContent(Document& from, Document& to) {
  for (auto& m : from.takeMaterials()) to.addMaterial(std::move(m));
  while (!from.objects().empty()) to.append(from.detach(from.objects().front().get()));
}

std::unique_ptr<Document> polygonForm(const Document& source) {
  auto doc = emptyLike(source);
  const MaterialCopies copies(*doc, allMaterials(source));
  for (const auto& o : source.objects()) doc->append(polygonFormOf(*o, copies));
  return doc;
}

}  // namespace scene
