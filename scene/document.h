// A document of our host: an ordered tree of objects, a material list, a timeline and an undo
// history.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/material.h"
#include "scene/object.h"
#include "scene/types.h"

namespace scene {

class Document {
 public:
  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();

  std::string name = "Untitled";
  TimeSettings time;

  // Objects.
  const std::vector<std::unique_ptr<Object>>& objects() const { return objects_; }
  /// Inserts a free object below parent (null: top level) right after pred (null: as the first
  /// child). Answers the object, or null when parent or pred do not fit.
  Object* insert(std::unique_ptr<Object> object, Object* parent = nullptr, Object* pred = nullptr);
  /// Inserts at the end of the top level (or of parent's children).
  Object* append(std::unique_ptr<Object> object, Object* parent = nullptr);
  /// Takes the object with its subtree out of the tree and answers it.
  std::unique_ptr<Object> detach(Object* object);
  /// Takes the object out of the tree and keeps it in the document's store of removed objects,
  /// where undo finds it again.
  void remove(Object* object);
  /// A removed object of this document, handed back to the caller; null when it is not one.
  std::unique_ptr<Object> takeRemoved(Object* object);
  /// True when the object stands in the list of its parent (or at the top level), that is, it
  /// has not been removed itself.
  bool isListed(const Object* object) const;
  /// Every object in hierarchy order (depth first, parents before children).
  std::vector<Object*> allObjects() const;
  /// The selected objects in hierarchy order; with `belowSelected` also selected objects that
  /// stand below a selected object.
  std::vector<Object*> activeObjects(bool belowSelected) const;
  void deselectAll();
  Object* findObject(const std::string& objectName) const;

  // Materials.
  const std::vector<std::unique_ptr<Material>>& materials() const { return materials_; }
  Material* addMaterial(std::unique_ptr<Material> material);
  /// Takes every material out of the list (texture tags keep pointing at them).
  std::vector<std::unique_ptr<Material>> takeMaterials();
  /// Clears every texture tag's link (in the tree and among removed objects) to a material for
  /// which `gone` answers true: links to a material that no longer exists become empty.
  template <typename Gone>
  void dropMaterialLinks(Gone gone) {
    auto visit = [&](auto& self, Object& o) -> void {
      for (auto& tag : o.tags) {
        if (tag->material && gone(tag->material)) tag->material = nullptr;
      }
      for (auto& child : o.children) self(self, *child);
    };
    for (auto& o : objects_) visit(visit, *o);
    for (auto& o : removed_) visit(visit, *o);
  }
  /// Position of the material in the list, or -1.
  int materialIndex(const Material* material) const;

  // Undo. Steps are recorded in an open group; a group is undone and redone as a whole.
  void startUndo();
  void endUndo();
  bool undoGroupOpen() const { return undoDepth_ > 0; }
  /// Records a step of sdk::kUndoNewObject, kUndoRemoveObject (element: the object) or
  /// kUndoDocumentTime (element: this document). False outside an open group.
  bool addUndo(std::int32_t kind, void* element);
  bool undo();
  bool redo();
  std::size_t undoCount() const { return done_.size(); }
  std::size_t redoCount() const { return undone_.size(); }

 private:
  struct UndoStep {
    std::int32_t kind = 0;
    Object* object = nullptr;
    // Where the object stands when it is out of the tree (parent null: top level).
    Object* parent = nullptr;
    std::size_t index = 0;
    TimeSettings before, after;
  };
  using UndoGroup = std::vector<UndoStep>;

  std::vector<std::unique_ptr<Object>>& siblingsOf(Object* parent) {
    return parent ? parent->children : objects_;
  }
  void position(Object* object, Object** parent, std::size_t* index);
  void reinsert(Object* object, Object* parent, std::size_t index);
  static void adopt(Object* object, Object* parent, Document* document);

  std::vector<std::unique_ptr<Object>> objects_;
  std::vector<std::unique_ptr<Material>> materials_;
  std::vector<std::unique_ptr<Object>> removed_;
  int undoDepth_ = 0;
  UndoGroup open_;
  std::vector<UndoGroup> done_;
  std::vector<UndoGroup> undone_;
};

/// A new document holding copies of the listed objects of `source` that do not stand below
/// another listed object, each with its subtree, as top-level objects in list order; the
/// materials their texture tags use are copied too (in the source's material order).
std::unique_ptr<Document> copySelection(const Document& source, const std::vector<Object*>& list);

/// A copy of the whole document: objects, materials and timeline (not the undo history).
std::unique_ptr<Document> cloneDocument(const Document& source);

/// Moves every material and top-level object of `from` to the end of `to`.
void moveContent(Document& from, Document& to);

/// A new document in which every object of `source` that has a polygon form (polygon objects,
/// cubes, planes, spheres) is replaced by it, with its tags; others are copied as they are.
/// Every material is copied.
std::unique_ptr<Document> polygonForm(const Document& source);

}  // namespace scene
