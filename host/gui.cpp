#include "host/gui.h"

namespace foldra::host {

/// The dialog as the host sees it: forwards the host's calls to the GeDialog.
class GeDialog::Client final : public sdk::DialogClient {
 public:
  explicit Client(GeDialog& dialog) : dialog_(dialog) {}
  bool createLayout(sdk::Dialog* window) override {
    dialog_.window_ = window;
    return dialog_.CreateLayout();
  }
  bool initValues(sdk::Dialog* window) override {
    dialog_.window_ = window;
    return dialog_.Initvalues();
  }
  bool command(sdk::Dialog* window, std::int32_t gadget) override {
    dialog_.window_ = window;
    return dialog_.Command(gadget, 0);
  }

 private:
  GeDialog& dialog_;
};

GeDialog::GeDialog() : client_(std::make_unique<Client>(*this)) {}
GeDialog::~GeDialog() = default;

bool GeDialog::CreateLayout() { return true; }
bool GeDialog::Initvalues() { return true; }
bool GeDialog::CoreMessage(std::int32_t) { return true; }
bool GeDialog::Command(std::int32_t, std::int32_t) { return true; }
bool GeDialog::AskClose() { return false; }
void GeDialog::Timer() {}
void GeDialog::DestroyWindow() {}
std::int32_t GeDialog::Message(std::int32_t) { return 0; }

bool GeDialog::Open(std::int32_t kind, std::int32_t pluginId, std::int32_t x, std::int32_t y,
                    std::int32_t width, std::int32_t height, std::int32_t subId) {
  const bool opened = api().dialogOpen(client_.get(), kind, pluginId, x, y, width, height, subId);
  window_ = nullptr;  // a modal dialog is closed again when dialogOpen returns
  return opened;
}

bool GeDialog::Close() {
  if (!window_) return false;
  api().dialogClose(window_);
  return true;
}

bool GeDialog::LoadDialogResource(std::int32_t id) { return api().dialogLoadDescription(window_, id); }

bool GeDialog::SetBool(std::int32_t id, bool value) { return api().dialogSetBool(window_, id, value); }

bool GeDialog::SetLong(std::int32_t id, std::int32_t value, std::int32_t min, std::int32_t max,
                       std::int32_t step) {
  return api().dialogSetInt(window_, id, value, min, max, step);
}

bool GeDialog::SetString(std::int32_t id, const String& value) {
  return api().dialogSetText(window_, id, value.str());
}

bool GeDialog::GetBool(std::int32_t id, bool& value) const { return api().dialogGetBool(window_, id, &value); }

bool GeDialog::GetLong(std::int32_t id, std::int32_t& value) const {
  return api().dialogGetInt(window_, id, &value);
}

bool GeDialog::GetString(std::int32_t id, String& value) const {
  std::string text;
  if (!api().dialogGetText(window_, id, &text)) return false;
  value = String(std::move(text));
  return true;
}

bool CommandData::Execute(Document*) { return false; }
bool CommandData::RestoreLayout(void*) { return false; }
std::int32_t CommandData::GetState(Document*) { return sdk::kCommandEnabled; }
bool CommandData::Message(std::int32_t, void*) { return true; }
bool CommandData::ExecuteSubId(Document*, std::int32_t) { return false; }
bool CommandData::ExecuteOptionId(Document*, std::int32_t) { return false; }
bool CommandData::GetScriptName(String&) { return false; }

namespace {

/// The command as the host sees it; owns the module's command object.
class CommandClient final : public sdk::CommandClient {
 public:
  explicit CommandClient(CommandData* data) : data_(data) {}
  bool execute(sdk::Document* document) override { return data_->Execute(document); }
  std::int32_t state(sdk::Document* document) override { return data_->GetState(document); }

 private:
  std::unique_ptr<CommandData> data_;
};

}  // namespace

bool RegisterCommandPlugin(std::int32_t id, const String& name, std::int32_t options, const String& icon,
                           const String& help, CommandData* data) {
  sdk::CommandClient* client = data ? new (std::nothrow) CommandClient(data) : nullptr;
  if (data && !client) delete data;
  return api().registerCommand(id, name.str(), options, icon.str(), help.str(), client);
}

}  // namespace foldra::host
