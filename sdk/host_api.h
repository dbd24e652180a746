// The plug-in interface of our host: everything a module loaded at run time sees of the host.
//
// A module is a shared library that exports one entry point (see EntryPoint). The host calls it
// with numbered actions; at the initialise action the third value is a HostInterface*, the table
// of host operations that the module uses for everything it does to a document. The module never
// links against the host: all it knows of the host is this header.
//
// Handles (Document, Object, Tag, ...) are opaque: the module only passes them back to the host.
// Modules must be built with the same C++ compiler and standard library as the host, since texts
// cross the interface as std::string.
#pragma once

#include <cstdint>
#include <string>

namespace sdk {

/// Interface version the host reports at the initialise action; modules refuse older hosts.
inline constexpr std::int32_t kInterfaceVersion = 11000;

/// Name and signature of the module's one exported function. On 64-bit builds the three values
/// after the action number are pointer-sized (they carry pointers at the initialise action).
inline constexpr const char* kEntryPointName = "c4d_main";
using EntryPoint = std::int32_t (*)(std::int32_t action, void* first, void* second, void* third);

// Entry point actions.
inline constexpr std::int32_t kActionInitialise = 1;
inline constexpr std::int32_t kActionStart = 2;
inline constexpr std::int32_t kActionEnd = 3;
inline constexpr std::int32_t kActionMessage = 6;

// Messages sent through kActionMessage (first value: id, second value: data).
inline constexpr std::int32_t kMessageNone = 0;
inline constexpr std::int32_t kMessageLoadResources = 1;
/// Our own message, numbered clear of the host's: the module describes its last run to the
/// RunReportSink* in the second value (see RunReportSink). A module that does not know it
/// answers -1, and a host that never sends it sees no change.
inline constexpr std::int32_t kMessageDescribeRun = 1059411;
/// Our own message: the host needs nothing more of the module's last run, whose working records
/// the module may let go (a later kMessageDescribeRun then describes nothing). A module that
/// does not know it answers -1 and keeps them until its next run.
inline constexpr std::int32_t kMessageForgetRun = 1059412;
/// Our own message, which a host may send from another thread while a run goes on: the module
/// breaks the run off at its next progress report, before it changes the document, so that the
/// run leaves the document as it was and records no undo step. Sent between runs it is
/// forgotten when the next run starts. A module that does not know it answers -1 and the run
/// goes on to its end, as it does for a host that never sends it.
inline constexpr std::int32_t kMessageBreakRun = 1059413;

// Object types.
inline constexpr std::int32_t kObjectPolygon = 5100;
inline constexpr std::int32_t kObjectNull = 5200;
inline constexpr std::int32_t kObjectLight = 5201;
inline constexpr std::int32_t kObjectCube = 5300;
inline constexpr std::int32_t kObjectPlane = 5301;
inline constexpr std::int32_t kObjectSphere = 5302;

// Tag types.
inline constexpr std::int32_t kTagTexture = 5616;
inline constexpr std::int32_t kTagUVW = 5671;
inline constexpr std::int32_t kTagPolygonSelection = 5673;
/// A named set of edges of a polygon object: edge 4 x p + i is side i of polygon p, from its
/// corner i to the next (for a triangle, side 2 runs from c back to a). An edge shared by two
/// polygons can be named from either.
inline constexpr std::int32_t kTagEdgeSelection = 5701;
inline constexpr std::int32_t kTagSmoothing = 5690;
inline constexpr std::int32_t kTagAnnotation = 5691;

// Data kinds of a polygon object.
inline constexpr std::int32_t kDataPoint = 5600;
inline constexpr std::int32_t kDataPolygon = 5604;

// Material types.
inline constexpr std::int32_t kMaterialStandard = 6001;

// Undo kinds.
inline constexpr std::int32_t kUndoNewObject = 44;
inline constexpr std::int32_t kUndoRemoveObject = 45;
/// The document's time parameters (1000 to 1005) are about to change; the element is the document.
inline constexpr std::int32_t kUndoDocumentTime = 47;

// Message ids sent to objects, tags and documents.
inline constexpr std::int32_t kMessageUpdate = 5;

// Modelling commands.
inline constexpr std::int32_t kCommandTriangulate = 221;

// Active-objects query flags.
inline constexpr std::int32_t kActiveObjectsChildren = 1;

// Parameters.
inline constexpr std::int32_t kDocumentTime = 1000;
inline constexpr std::int32_t kDocumentFps = 1001;
inline constexpr std::int32_t kDocumentMinTime = 1002;
inline constexpr std::int32_t kDocumentMaxTime = 1003;
inline constexpr std::int32_t kDocumentLoopMinTime = 1004;
inline constexpr std::int32_t kDocumentLoopMaxTime = 1005;
inline constexpr std::int32_t kObjectEditorVisibility = 901;
inline constexpr std::int32_t kObjectRenderVisibility = 902;
inline constexpr std::int32_t kTextureRestriction = 1006;

// Values of the visibility parameters.
inline constexpr std::int32_t kVisibilityOn = 0;
inline constexpr std::int32_t kVisibilityOff = 1;
inline constexpr std::int32_t kVisibilityDefault = 2;

// Animation: the value curve of a track, and key interpolation kinds.
inline constexpr std::int32_t kCurveValue = 1;
inline constexpr std::int32_t kInterpolationStep = 3;

// Command states answered by CommandClient::state.
inline constexpr std::int32_t kCommandDisabled = 0;
inline constexpr std::int32_t kCommandEnabled = 0x40000000;

// Dialog kinds for HostInterface::dialogOpen.
inline constexpr std::int32_t kDialogModal = 1;

/// A point as the host stores it.
struct Vector32 {
  float x = 0, y = 0, z = 0;
  bool operator==(const Vector32&) const = default;
};

/// A polygon: four point indices; a triangle repeats its third index as the fourth.
struct Polygon {
  std::int32_t a = 0, b = 0, c = 0, d = 0;
  bool operator==(const Polygon&) const = default;
};

/// Texture coordinates of one polygon: one (u, v, w) triple per corner a, b, c, d.
struct UVWEntry {
  Vector32 a, b, c, d;
  bool operator==(const UVWEntry&) const = default;
};

/// A point in time as an exact fraction of seconds; the denominator is positive.
struct Time {
  std::int64_t numerator = 0;
  std::int64_t denominator = 1;
};

struct Document;
struct Object;
struct Tag;
struct Material;
struct ObjectList;
struct Selection;
struct NeighborSearch;
struct Track;
struct Curve;
struct Key;
struct Dialog;

/// How one side of a triangle of a piece lies in its piece.
inline constexpr std::int32_t kSideOpen = 0;  ///< an edge of the model with no other face
inline constexpr std::int32_t kSideFold = 1;  ///< folded onto the other face of the edge, in the same piece
inline constexpr std::int32_t kSideCut = 2;   ///< cut: the other face of the edge lies elsewhere

/// One side k of a triangle of a run report; it runs from corner k to corner (k + 1) mod 3.
struct RunSide {
  /// kSideOpen, kSideFold or kSideCut.
  std::int32_t kind;
  /// Folds: the angle between the two faces' normals in degrees, 0 (flat) to 180.
  double foldDegrees;
  /// Folds: 1 when the crease points away from the printed side (a valley), 0 for a mountain.
  std::int32_t valley;
  /// Folds and cuts: the other copy of the edge, as piece, triangle within that piece and side
  /// of that triangle (all -1 for an open side). The two copies name each other.
  std::int32_t piece, triangle, side;
  /// 1 when the side carries a glue tab, whose outer corners are `tab`: first the one next to
  /// corner (k + 1) mod 3, then the one next to corner k (they may coincide).
  std::int32_t hasTab;
  double tab[2][2];
  /// Which side of the source polygon this is (0..2): edge 4 x polygon + edge of the object,
  /// as an edge selection names it.
  std::int32_t edge;
  /// The marks a person set on this side, bits 1 cut, 2 fold, 4 tab, 8 no tab; 0 for none.
  std::int32_t marks;
};

/// One triangle of a piece of a run report.
struct RunTriangle {
  /// Corners in the piece's flat frame (model units, counter-clockwise).
  double flat[3][2];
  /// Corners in space, in the source object's coordinates.
  double space[3][3];
  /// The source object: its position among the objects the run read, in the order it read them.
  std::int32_t object;
  /// The triangle's index among the polygons of the source object's triangulated polygon form.
  std::int32_t polygon;
  /// Ordinal among the source object's texture tags of the tag that covers the triangle, or -1.
  std::int32_t textureNumber;
  /// The material that covers the triangle, one of the active document's; null for none.
  Material* material;
  /// 1 when the source object has texture coordinates; `uv` then holds the corners' (u, v).
  std::int32_t hasUV;
  double uv[3][2];
  RunSide sides[3];
};

/// Where a module describes its last run, asked with kMessageDescribeRun: every valid piece in
/// the order its scene output numbers them, each followed by its triangles in the order they
/// joined it. Pointers are valid during the call only; handles as long as the active document
/// the run worked on is unchanged. The module answers 1 when it described a run.
struct RunReportSink {
  void* context;
  void (*piece)(void* context, std::int32_t index, std::int32_t triangles);
  void (*triangle)(void* context, const RunTriangle* triangle);
};

/// A command that a module registers; the host owns it from registration and deletes it
/// before it ends the module.
class CommandClient {
 public:
  virtual ~CommandClient() = default;
  /// Runs the command on the active document; the answer tells whether it ran.
  virtual bool execute(Document* document) = 0;
  /// kCommandEnabled or kCommandDisabled, asked whenever the host shows the command.
  virtual std::int32_t state(Document* document) = 0;
};

/// The module's side of a dialog window; the host calls it while the window is open.
class DialogClient {
 public:
  virtual ~DialogClient() = default;
  /// Builds the gadgets (usually with dialogLoadDescription); false refuses to open.
  virtual bool createLayout(Dialog* window) = 0;
  /// Fills the gadgets; false refuses to open.
  virtual bool initValues(Dialog* window) = 0;
  /// A gadget changed or a button was pressed.
  virtual bool command(Dialog* window, std::int32_t gadget) = 0;
};

/// Host entries that a module may replace; the host calls `hook` with its active document
/// each time it posts a change event.
struct FunctionTable {
  void (*hook)(void*) = nullptr;
};

/// The operations the host offers a module. Unless stated otherwise a null handle argument
/// makes an operation do nothing and answer false, null, 0 or an empty text.
class HostInterface {
 public:
  virtual ~HostInterface() = default;

  // Texts.
  /// 0 when equal, negative or positive by byte order otherwise.
  virtual std::int32_t compareText(const std::string& a, const std::string& b) = 0;
  virtual std::string intToText(std::int64_t value) = 0;
  /// digitsBefore/digitsAfter -1: the host's defaults; fill pads the integer part.
  virtual std::string realToText(double value, std::int32_t digitsBefore, std::int32_t digitsAfter,
                                 bool exponent, char fill) = 0;
  /// Parses the whole text in the given base; on failure *error is set and 0 returned.
  virtual double textToReal(const std::string& text, std::int32_t base, bool* error) = 0;

  // Console, status bar, events.
  virtual void consolePrint(const std::string& line) = 0;
  /// Progress of a long operation: percent 0..100 and a short text. Writes no console line.
  virtual void statusSet(std::int32_t percent, const std::string& text) = 0;
  virtual void statusClear() = 0;
  /// Called before a user interaction changes a document; the host finishes background work.
  virtual void interactionStart() = 0;
  virtual void eventAdd(std::int32_t flags) = 0;
  virtual void drawViews(std::int32_t flags, void* view) = 0;
  virtual FunctionTable* functionTable() = 0;

  // Plug-in resources and registration.
  /// The folder that holds the calling module's file.
  virtual std::string modulePath() = 0;
  /// Loads string table and dialog descriptions from <folder>/res.
  virtual bool loadResources(const std::string& folder) = 0;
  virtual void freeResources() = 0;
  /// A string of the loaded string table, or an empty text.
  virtual std::string loadString(std::int32_t id) = 0;
  virtual bool registerCommand(std::int32_t id, const std::string& name, std::int32_t options,
                               const std::string& icon, const std::string& help,
                               CommandClient* command) = 0;

  // Dialogs. A modal dialog returns when it is closed.
  virtual bool dialogOpen(DialogClient* client, std::int32_t kind, std::int32_t pluginId,
                          std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                          std::int32_t subId) = 0;
  virtual void dialogClose(Dialog* window) = 0;
  virtual bool dialogLoadDescription(Dialog* window, std::int32_t id) = 0;
  virtual bool dialogSetBool(Dialog* window, std::int32_t gadget, bool value) = 0;
  virtual bool dialogSetInt(Dialog* window, std::int32_t gadget, std::int32_t value,
                            std::int32_t min, std::int32_t max, std::int32_t step) = 0;
  virtual bool dialogSetText(Dialog* window, std::int32_t gadget, const std::string& value) = 0;
  virtual bool dialogGetBool(Dialog* window, std::int32_t gadget, bool* value) = 0;
  virtual bool dialogGetInt(Dialog* window, std::int32_t gadget, std::int32_t* value) = 0;
  virtual bool dialogGetText(Dialog* window, std::int32_t gadget, std::string* value) = 0;

  // Documents.
  virtual Document* activeDocument() = 0;
  /// A new document holding copies of the listed objects (with their subtrees) and of the
  /// materials their texture tags use. The caller frees it.
  virtual Document* copySelection(Document* document, ObjectList* objects) = 0;
  /// A new document in which every object is replaced by its polygon form where the host can
  /// make one. The caller frees it.
  virtual Document* polygonForm(Document* document, std::int32_t flags) = 0;
  virtual void freeDocument(Document* document) = 0;
  virtual Object* firstObject(Document* document) = 0;
  virtual Material* firstMaterial(Document* document) = 0;
  /// Appends the selected objects in hierarchy order; with kActiveObjectsChildren also those
  /// below selected objects.
  virtual void activeObjects(Document* document, ObjectList* list, std::int32_t flags) = 0;
  /// Inserts a free object below parent (null: top level) after pred (null: first).
  virtual bool insertObject(Document* document, Object* object, Object* parent, Object* pred,
                            std::int32_t flags) = 0;
  virtual void startUndo(Document* document) = 0;
  virtual void endUndo(Document* document) = 0;
  /// Records an undo step in the open group; kUndoNewObject and kUndoRemoveObject are
  /// recorded before the insertion or removal they describe.
  virtual bool addUndo(Document* document, std::int32_t kind, void* element) = 0;
  virtual bool setDocumentTime(Document* document, std::int32_t parameter, Time value) = 0;
  virtual bool setDocumentInt(Document* document, std::int32_t parameter, std::int32_t value) = 0;
  virtual void messageDocument(Document* document, std::int32_t id) = 0;
  virtual bool modelingCommand(std::int32_t command, Document* document, Object* object) = 0;

  // Object lists.
  virtual ObjectList* newObjectList() = 0;
  virtual void freeObjectList(ObjectList* list) = 0;
  virtual std::int32_t listCount(ObjectList* list) = 0;
  virtual Object* listEntry(ObjectList* list, std::int32_t index) = 0;
  virtual void listAppend(ObjectList* list, Object* object) = 0;

  // Objects.
  virtual Object* nextObject(Object* object) = 0;
  /// The first of the objects directly below the object, or null; nextObject walks the rest.
  virtual Object* firstChild(Object* object) = 0;
  virtual std::int32_t objectType(Object* object) = 0;
  /// The type the object reports for itself, which for our objects is its type.
  virtual std::int32_t objectRealType(Object* object) = 0;
  virtual std::string objectName(Object* object) = 0;
  /// A new free object of the type, owned by the caller until it is inserted.
  virtual Object* allocObject(std::int32_t type) = 0;
  virtual void freeObject(Object* object) = 0;
  virtual bool resizePolygonObject(Object* object, std::int32_t points, std::int32_t polygons) = 0;
  virtual std::int32_t dataCount(Object* object, std::int32_t kind) = 0;
  virtual const Vector32* points(Object* object) = 0;
  virtual Vector32* writablePoints(Object* object) = 0;
  virtual const Polygon* polygons(Object* object) = 0;
  virtual Polygon* writablePolygons(Object* object) = 0;
  /// Takes the object (with its subtree) out of its document or parent.
  virtual void removeObject(Object* object) = 0;
  virtual void messageObject(Object* object, std::int32_t id) = 0;
  virtual bool setObjectInt(Object* object, std::int32_t parameter, std::int32_t value) = 0;
  /// The index-th tag of the type, in tag order, or null.
  virtual Tag* objectTag(Object* object, std::int32_t type, std::int32_t index) = 0;
  /// Appends copies of every tag of source to target, in order.
  virtual bool copyTags(Object* source, Object* target, std::int32_t a, std::int32_t b,
                        std::int32_t c, void* translation) = 0;

  // Animation.
  virtual Track* newTrack(Object* object, std::int32_t parameter) = 0;
  virtual void insertTrack(Object* object, Track* track) = 0;
  virtual Curve* trackCurve(Track* track, std::int32_t kind, bool create) = 0;
  /// A key at that time; a curve holds one key per time, so an existing key is answered.
  virtual Key* addKey(Curve* curve, Time time, std::int32_t flags) = 0;
  virtual bool setKeyInterpolation(Key* key, Curve* curve, std::int32_t kind) = 0;
  virtual bool setKeyValue(Key* key, Curve* curve, std::int32_t value) = 0;

  // Tags.
  virtual std::string tagName(Tag* tag) = 0;
  virtual Material* tagMaterial(Tag* tag, std::int32_t flags) = 0;
  virtual bool setTagMaterial(Tag* tag, Material* material) = 0;
  virtual bool getTagText(Tag* tag, std::int32_t parameter, std::string* value) = 0;
  virtual std::int32_t uvwEntryCount(Tag* tag) = 0;
  virtual bool uvwGet(Tag* tag, std::int32_t polygon, UVWEntry* entry) = 0;
  virtual bool uvwSet(Tag* tag, std::int32_t polygon, const UVWEntry& entry) = 0;
  /// Gives a texture-coordinate tag exactly `count` entries: the first ones kept, new ones zero.
  virtual bool uvwResize(Tag* tag, std::int32_t count) = 0;
  /// The selection of a polygon-selection or an edge-selection tag, or null.
  virtual Selection* tagSelection(Tag* tag) = 0;
  virtual void messageTag(Tag* tag, std::int32_t id) = 0;

  // Polygon selections.
  /// Range number `segment` of consecutive selected indices below maxElements.
  virtual bool selectionRange(Selection* selection, std::int32_t segment,
                              std::int32_t maxElements, std::int32_t* first,
                              std::int32_t* last) = 0;
  virtual void selectionClear(Selection* selection) = 0;
  virtual bool selectionAdd(Selection* selection, std::int32_t index) = 0;

  // Materials.
  virtual Material* nextMaterial(Material* material) = 0;
  virtual Material* previousMaterial(Material* material) = 0;
  virtual std::string materialName(Material* material) = 0;
  virtual std::int32_t materialType(Material* material) = 0;
  virtual std::string materialTypeName(Material* material) = 0;
  /// True when the two materials' settings are alike (names are not compared).
  virtual bool compareMaterials(Material* a, Material* b) = 0;

  // Neighbour search over a polygon array.
  virtual NeighborSearch* newNeighborSearch() = 0;
  virtual void freeNeighborSearch(NeighborSearch* search) = 0;
  virtual bool neighborInit(NeighborSearch* search, std::int32_t pointCount,
                            const Polygon* polygons, std::int32_t polygonCount,
                            Selection* selection) = 0;
  /// The other polygon that has the edge (a, b), or -1. An edge shared by more than two
  /// polygons pairs them in index order (first with second, third with fourth, ...); an
  /// unpaired last polygon answers -1.
  virtual std::int32_t neighborOf(NeighborSearch* search, std::int32_t a, std::int32_t b,
                                  std::int32_t polygon) = 0;
};

}  // namespace sdk
