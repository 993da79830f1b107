// ReadParameter (01 0E) and WriteParameter (01 0F): settings, read-only descriptions of memory
// and of the history ring, and the command parameter 0xFF00 whose writes are actions.
#include "devsim/parameters.h"

#include "devsim/byte_io.h"
#include "devsim/device_commands.h"
#include "devsim/device_model.h"

namespace kalvo::devsim {

ParameterStore ParameterStore::ForDevice(const SimOptions& options) {
    ParameterStore store;
    bool r630 = options.model == Model::R630;
    store.settings_ = {
        {kParamSound, {r630 ? 0u : 1u, 0, 1}},  // R630: 0 is on; R520: 1 is on
        {kParamCalibration, {r630 ? 127u : 100u, 10, 999}},
        {6, {r630 ? 0u : 1u, 0, r630 ? 3u : 1u}},  // Russian on both
        {7, {8, 0, 15}},
        {8, {14, 0, 14}},
        {kParamUnits, {0, 0, 2}},
        {13, {1, 0, 1}},
        {14, {1, 0, 1}},
        {15, {1, 0, 1}},
        {16, {1, 0, 3}},
        {17, {3, 0, 60}},
        {18, {10, 0, 60}},
        {kParamHistoryMethod, {1, 0, 1}},
    };
    if (r630) {
        store.settings_.insert({{20, {0, 0, 1}}, {21, {7, 0, 23}}, {22, {0, 0, 59}}});  // alarm clock
    } else {
        store.settings_.insert({{20, {1, 0, 1}}, {21, {0, 0, 1}}, {30, {0, 0, 2}}});  // lights, method, tubes
    }
    for (const auto& [id, value] : options.parameters) store.Preset(id, value);
    for (const auto& [id, value] : options.keptParameters) store.kept_[id] = value;
    return store;
}

std::optional<std::uint32_t> ParameterStore::SettingValue(std::uint16_t id) const {
    auto found = settings_.find(id);
    if (found == settings_.end()) return std::nullopt;
    return found->second.value;
}

std::optional<std::uint32_t> ParameterStore::Write(std::uint16_t id, std::uint32_t value) {
    auto found = settings_.find(id);
    if (found == settings_.end()) return std::nullopt;
    Setting& setting = found->second;
    if (auto kept = kept_.find(id); kept != kept_.end()) value = kept->second;
    if (value >= setting.low && value <= setting.high) setting.value = value;
    return setting.value;
}

void ParameterStore::Preset(std::uint16_t id, std::uint32_t value) {
    if (auto found = settings_.find(id); found != settings_.end()) {
        found->second.value = value;
    } else {
        fixed_[id] = value;
    }
}

std::optional<std::uint32_t> ParameterStore::Fixed(std::uint16_t id) const {
    auto found = fixed_.find(id);
    if (found == fixed_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint32_t> ParameterValue(const SimDevice& device, std::uint16_t id) {
    if (auto fixed = device.Parameters().Fixed(id)) return fixed;
    switch (id) {
    case kParamRateAddress: return kRateAddress;
    case kParamScaleAddress: return kScaleBlockAddress;
    case kParamCountAddress: return kCountAddress;
    case kParamDoseTextAddress: return kDoseTextAddress;
    case kParamDoseUnitAddress: return kDoseUnitAddress;
    case kParamRingGeometry: case kParamRingGeometry + 1: case kParamRingGeometry + 2: case kParamRingFlags:
        return device.History().HeaderParameter(id);
    case kCommandParameter: return 0;  // written only
    default: return device.Parameters().SettingValue(id);
    }
}

namespace {

using Fields = std::span<const std::uint8_t>;

std::vector<std::uint8_t> ParameterAnswer(std::uint16_t id, std::uint32_t value) {
    std::vector<std::uint8_t> answer;
    AppendU16(answer, id);
    AppendU32(answer, value);
    return answer;
}

// Parameters belong to the main firmware; the boot loader does not know them.
bool Available(SimDevice& device, const char* name) {
    if (device.InBootMode()) device.Note(std::string(name) + ": not in the boot loader, no answer");
    return !device.InBootMode();
}

void PerformAction(SimDevice& device, std::uint32_t action) {
    switch (action) {
    case kExchangeBegin: device.SetExchange(true); break;
    case kExchangeEnd:
        device.SetExchange(false);
        if (unsigned count = device.Options().appendAtExchangeEnd.value_or(0)) device.AdvanceHistory(count);
        break;
    case kEraseHistory:
        if (!device.InExchange()) device.Note("history erased outside an exchange");
        device.History().Erase();
        device.Note("history erased");
        break;
    case kResetDose:
        device.RefreshLive().ResetDose();
        device.Note("accumulated dose reset");
        break;
    case kPrepareDoseText:
        device.RefreshLive().PrepareDoseText(device.Parameters().SettingValue(kParamUnits).value_or(0));
        break;
    default: device.Note("command parameter: unknown action " + HexAddress(action) + " ignored"); break;
    }
}

AnswerData ReadParameter(SimDevice& device, int, Fields fields) {
    if (fields.size() < 2 || !Available(device, "ReadParameter")) return std::nullopt;
    std::uint16_t id = GetU16(fields);
    auto value = ParameterValue(device, id);
    if (!value) {
        device.Note("ReadParameter: no parameter " + std::to_string(id) + ", no answer");
        return std::nullopt;
    }
    return ParameterAnswer(id, *value);
}

AnswerData WriteParameter(SimDevice& device, int, Fields fields) {
    if (fields.size() < 6 || !Available(device, "WriteParameter")) return std::nullopt;
    std::uint16_t id = GetU16(fields);
    std::uint32_t value = GetU32(fields, 2);
    if (id == kCommandParameter) {
        PerformAction(device, value);
        return ParameterAnswer(id, value);
    }
    if (auto kept = device.Parameters().Write(id, value)) {
        if (*kept != value) device.Note("WriteParameter " + std::to_string(id) + ": value not taken, kept " + std::to_string(*kept));
        return ParameterAnswer(id, *kept);
    }
    if (auto readOnly = ParameterValue(device, id)) {
        device.Note("WriteParameter " + std::to_string(id) + ": read only, kept");
        return ParameterAnswer(id, *readOnly);
    }
    device.Note("WriteParameter: no parameter " + std::to_string(id) + ", no answer");
    return std::nullopt;
}

}  // namespace

void RegisterParameterCommands(CommandTable& table) {
    table.Register(MakeCode(0x01, 0x0E), "ReadParameter", ReadParameter);
    table.Register(MakeCode(0x01, 0x0F), "WriteParameter", WriteParameter);
}

}  // namespace kalvo::devsim
