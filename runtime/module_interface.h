// The host interface handed to one module: every operation of sdk::HostInterface, translated
// onto our document model and the host's services. Handles are the host's own objects behind
// opaque pointers; this class is the only place where they are converted.
#pragma once

#include <string>

#include "runtime/host.h"
#include "runtime/resources.h"
#include "sdk/host_api.h"

namespace runtime {

class ModuleInterface final : public sdk::HostInterface {
 public:
  ModuleInterface(Host& host, std::string folder, std::size_t module)
      : host_(host), folder_(std::move(folder)), module_(module) {}

  /// Our material behind a material handle that a module hands back (null for null).
  static const scene::Material* material(sdk::Material* handle);

  const Resources& resources() const { return resources_; }
  bool resourcesLoaded() const { return loaded_; }
  const std::string& lastResourceError() const { return resourceError_; }

  std::int32_t compareText(const std::string& a, const std::string& b) override;
  std::string intToText(std::int64_t value) override;
  std::string realToText(double value, std::int32_t digitsBefore, std::int32_t digitsAfter,
                         bool exponent, char fill) override;
  double textToReal(const std::string& text, std::int32_t base, bool* error) override;

  void consolePrint(const std::string& line) override;
  void statusSet(std::int32_t percent, const std::string& text) override;
  void statusClear() override;
  void interactionStart() override;
  void eventAdd(std::int32_t flags) override;
  void drawViews(std::int32_t flags, void* view) override;
  sdk::FunctionTable* functionTable() override;

  std::string modulePath() override;
  bool loadResources(const std::string& folder) override;
  void freeResources() override;
  std::string loadString(std::int32_t id) override;
  bool registerCommand(std::int32_t id, const std::string& name, std::int32_t options,
                       const std::string& icon, const std::string& help,
                       sdk::CommandClient* command) override;

  bool dialogOpen(sdk::DialogClient* client, std::int32_t kind, std::int32_t pluginId,
                  std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                  std::int32_t subId) override;
  void dialogClose(sdk::Dialog* window) override;
  bool dialogLoadDescription(sdk::Dialog* window, std::int32_t id) override;
  bool dialogSetBool(sdk::Dialog* window, std::int32_t gadget, bool value) override;
  bool dialogSetInt(sdk::Dialog* window, std::int32_t gadget, std::int32_t value,
                    std::int32_t min, std::int32_t max, std::int32_t step) override;
  bool dialogSetText(sdk::Dialog* window, std::int32_t gadget, const std::string& value) override;
  bool dialogGetBool(sdk::Dialog* window, std::int32_t gadget, bool* value) override;
  bool dialogGetInt(sdk::Dialog* window, std::int32_t gadget, std::int32_t* value) override;
  bool dialogGetText(sdk::Dialog* window, std::int32_t gadget, std::string* value) override;

  sdk::Document* activeDocument() override;
  sdk::Document* copySelection(sdk::Document* document, sdk::ObjectList* objects) override;
  sdk::Document* polygonForm(sdk::Document* document, std::int32_t flags) override;
  void freeDocument(sdk::Document* document) override;
  sdk::Object* firstObject(sdk::Document* document) override;
  sdk::Material* firstMaterial(sdk::Document* document) override;
  void activeObjects(sdk::Document* document, sdk::ObjectList* list, std::int32_t flags) override;
  bool insertObject(sdk::Document* document, sdk::Object* object, sdk::Object* parent,
                    sdk::Object* pred, std::int32_t flags) override;
  void startUndo(sdk::Document* document) override;
  void endUndo(sdk::Document* document) override;
  bool addUndo(sdk::Document* document, std::int32_t kind, void* element) override;
  bool setDocumentTime(sdk::Document* document, std::int32_t parameter, sdk::Time value) override;
  bool setDocumentInt(sdk::Document* document, std::int32_t parameter, std::int32_t value) override;
  void messageDocument(sdk::Document* document, std::int32_t id) override;
  bool modelingCommand(std::int32_t command, sdk::Document* document, sdk::Object* object) override;

  sdk::ObjectList* newObjectList() override;
  void freeObjectList(sdk::ObjectList* list) override;
  std::int32_t listCount(sdk::ObjectList* list) override;
  sdk::Object* listEntry(sdk::ObjectList* list, std::int32_t index) override;
  void listAppend(sdk::ObjectList* list, sdk::Object* object) override;

  sdk::Object* nextObject(sdk::Object* object) override;
  sdk::Object* firstChild(sdk::Object* object) override;
  std::int32_t objectType(sdk::Object* object) override;
  std::int32_t objectRealType(sdk::Object* object) override;
  std::string objectName(sdk::Object* object) override;
  sdk::Object* allocObject(std::int32_t type) override;
  void freeObject(sdk::Object* object) override;
  bool resizePolygonObject(sdk::Object* object, std::int32_t points, std::int32_t polygons) override;
  std::int32_t dataCount(sdk::Object* object, std::int32_t kind) override;
  const sdk::Vector32* points(sdk::Object* object) override;
  sdk::Vector32* writablePoints(sdk::Object* object) override;
  const sdk::Polygon* polygons(sdk::Object* object) override;
  sdk::Polygon* writablePolygons(sdk::Object* object) override;
  void removeObject(sdk::Object* object) override;
  void messageObject(sdk::Object* object, std::int32_t id) override;
  bool setObjectInt(sdk::Object* object, std::int32_t parameter, std::int32_t value) override;
  sdk::Tag* objectTag(sdk::Object* object, std::int32_t type, std::int32_t index) override;
  bool copyTags(sdk::Object* source, sdk::Object* target, std::int32_t a, std::int32_t b,
                std::int32_t c, void* translation) override;

  sdk::Track* newTrack(sdk::Object* object, std::int32_t parameter) override;
  void insertTrack(sdk::Object* object, sdk::Track* track) override;
  sdk::Curve* trackCurve(sdk::Track* track, std::int32_t kind, bool create) override;
  sdk::Key* addKey(sdk::Curve* curve, sdk::Time time, std::int32_t flags) override;
  bool setKeyInterpolation(sdk::Key* key, sdk::Curve* curve, std::int32_t kind) override;
  bool setKeyValue(sdk::Key* key, sdk::Curve* curve, std::int32_t value) override;

  std::string tagName(sdk::Tag* tag) override;
  sdk::Material* tagMaterial(sdk::Tag* tag, std::int32_t flags) override;
  bool setTagMaterial(sdk::Tag* tag, sdk::Material* material) override;
  bool getTagText(sdk::Tag* tag, std::int32_t parameter, std::string* value) override;
  std::int32_t uvwEntryCount(sdk::Tag* tag) override;
  bool uvwGet(sdk::Tag* tag, std::int32_t polygon, sdk::UVWEntry* entry) override;
  bool uvwSet(sdk::Tag* tag, std::int32_t polygon, const sdk::UVWEntry& entry) override;
  bool uvwResize(sdk::Tag* tag, std::int32_t count) override;
  sdk::Selection* tagSelection(sdk::Tag* tag) override;
  void messageTag(sdk::Tag* tag, std::int32_t id) override;

  bool selectionRange(sdk::Selection* selection, std::int32_t segment, std::int32_t maxElements,
                      std::int32_t* first, std::int32_t* last) override;
  void selectionClear(sdk::Selection* selection) override;
  bool selectionAdd(sdk::Selection* selection, std::int32_t index) override;

  sdk::Material* nextMaterial(sdk::Material* material) override;
  sdk::Material* previousMaterial(sdk::Material* material) override;
  std::string materialName(sdk::Material* material) override;
  std::int32_t materialType(sdk::Material* material) override;
  std::string materialTypeName(sdk::Material* material) override;
  bool compareMaterials(sdk::Material* a, sdk::Material* b) override;

  sdk::NeighborSearch* newNeighborSearch() override;
  void freeNeighborSearch(sdk::NeighborSearch* search) override;
  bool neighborInit(sdk::NeighborSearch* search, std::int32_t pointCount,
                    const sdk::Polygon* polygons, std::int32_t polygonCount,
                    sdk::Selection* selection) override;
  std::int32_t neighborOf(sdk::NeighborSearch* search, std::int32_t a, std::int32_t b,
                          std::int32_t polygon) override;

 private:
  Host& host_;
  std::string folder_;
  std::size_t module_;
  Resources resources_;
  bool loaded_ = false;
  std::string resourceError_;
};

}  // namespace runtime
