// The module's one way to the host: the host's operations as handed over at initialisation.
// Every other part of the module reaches the host through this layer.
#pragma once

#include "sdk/host_api.h"

namespace foldra::host {

using Document = sdk::Document;
using Object = sdk::Object;
using Tag = sdk::Tag;
using Material = sdk::Material;
using ObjectList = sdk::ObjectList;
using Selection = sdk::Selection;

/// Takes the host's operations (the initialise action does this; tests may do it directly).
void install(sdk::HostInterface* operations);
/// The installed operations, or null before initialisation.
sdk::HostInterface* installed();
/// The installed operations; only called while the module is initialised.
sdk::HostInterface& api();

/// An object list of the host, freed when it goes out of scope.
class ObjectListRef {
 public:
  ObjectListRef() : list_(api().newObjectList()) {}
  ~ObjectListRef() {
    if (list_) api().freeObjectList(list_);
  }
  ObjectListRef(const ObjectListRef&) = delete;
  ObjectListRef& operator=(const ObjectListRef&) = delete;
  ObjectList* get() const { return list_; }
  int count() const { return api().listCount(list_); }
  Object* entry(int i) const { return api().listEntry(list_, i); }

 private:
  ObjectList* list_;
};

/// The host's neighbour search, freed when it goes out of scope.
class Neighbor {
 public:
  Neighbor() : search_(api().newNeighborSearch()) {}
  ~Neighbor() {
    if (search_) api().freeNeighborSearch(search_);
  }
  Neighbor(const Neighbor&) = delete;
  Neighbor& operator=(const Neighbor&) = delete;
  bool Init(int pointCount, const sdk::Polygon* polygons, int polygonCount, Selection* selection) {
    return search_ && api().neighborInit(search_, pointCount, polygons, polygonCount, selection);
  }
  int GetNeighbor(int a, int b, int polygon) const { return api().neighborOf(search_, a, b, polygon); }

 private:
  sdk::NeighborSearch* search_;
};

}  // namespace foldra::host
