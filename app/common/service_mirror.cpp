#include "app/common/service_mirror.h"

#include <algorithm>
#include <string>

#include "device/device_state.h"
#include "platform/base64.h"
#include "service/monitor_service.h"

namespace raid {

namespace {

constexpr int kDrives = 10;
constexpr size_t kSectorBytes = sizeof(Sector);

std::string EnclosureName(int drive) { return "drive" + std::to_string(drive); }

std::optional<sim::EnclosureTransport> TransportOf(const std::string& name) {
  if (name == "read58") return sim::EnclosureTransport::Read58;
  if (name == "ata") return sim::EnclosureTransport::AtaIdentify;
  if (name == "vendor1") return sim::EnclosureTransport::VendorOneFe;
  if (name == "vendor2") return sim::EnclosureTransport::VendorTwoFe;
  return std::nullopt;
}

Expected<Sector> SectorOf(const nlohmann::json& text, const char* what) {
  if (!text.is_string()) return Expected<Sector>::Fail(std::string(what) + " is no text");
  const Expected<std::vector<uint8_t>> bytes = Base64Decode(text.get_ref<const std::string&>());
  if (!bytes) return Expected<Sector>::Fail(std::string(what) + ": " + bytes.error());
  if (bytes->size() != kSectorBytes)
    return Expected<Sector>::Fail(std::string(what) + " holds " + std::to_string(bytes->size()) + " bytes, not " +
                                  std::to_string(kSectorBytes));
  Sector s{};
  std::copy(bytes->begin(), bytes->end(), s.begin());
  return s;
}

}  // namespace

sim::ScenarioSpec ServiceMirror::MirrorScenario() {
  sim::ScenarioSpec machine;
  for (int d = 0; d < kDrives; ++d) {
    sim::EnclosureSpec e;
    e.name = EnclosureName(d);
    machine.enclosures.push_back(e);
    machine.disks[d] = {sim::DiskKind::Enclosure, e.name, 31};
  }
  return machine;
}

void ServiceMirror::BuildMachine(Machine& m) {
  m.clock = std::make_unique<SystemClock>();
  auto io = std::make_unique<sim::SimDeviceIo>(*m.clock, MirrorScenario());
  m.sim = io.get();
  m.changes = io.get();
  m.io = std::move(io);
}

ServiceMirror::ServiceMirror(sim::SimDeviceIo& sim) : sim_(sim) {
  for (int d = 0; d < kDrives; ++d) sim_.SetPlugged(EnclosureName(d), false);
}

Outcome ServiceMirror::Apply(const nlohmann::json& document) {
  struct Wanted {
    Shown shown;
    Sector record{};
  };
  std::array<std::optional<Wanted>, kDrives> wanted;
  if (!document.is_object() || !document.contains("enclosures") || !document["enclosures"].is_array())
    return Outcome::Fail("the mirror holds no list of enclosures");
  const nlohmann::json& list = document["enclosures"];
  if (list.size() > static_cast<size_t>(kMaxSlots))
    return Outcome::Fail("the mirror lists " + std::to_string(list.size()) + " enclosures");
  for (const nlohmann::json& e : list) {
    if (!e.is_object()) return Outcome::Fail("an enclosure of the mirror is no object");
    const nlohmann::json drive = JsonField(e, "drive");
    if (!drive.is_number_unsigned() || drive.get<uint64_t>() >= kDrives)
      return Outcome::Fail("an enclosure of the mirror names no drive 0-9");
    const auto d = static_cast<size_t>(drive.get<uint64_t>());
    if (wanted[d]) return Outcome::Fail("the mirror names drive " + std::to_string(d) + " twice");
    const std::optional<sim::EnclosureTransport> transport = TransportOf(JsonText(e, "transport"));
    if (!transport) return Outcome::Fail("an enclosure of the mirror names no known transport");
    const Expected<Sector> ident = SectorOf(JsonField(e, "ident"), "an identification sector");
    if (!ident) return Outcome::Fail(ident.error());
    const nlohmann::json record = JsonField(e, "record");
    if (record.is_null()) continue;  // not read yet: not shown yet
    const Expected<Sector> status = SectorOf(record, "a status record");
    if (!status) return Outcome::Fail(status.error());
    wanted[d] = Wanted{{*transport, *ident}, *status};
  }
  for (int d = 0; d < kDrives; ++d) {
    const std::string name = EnclosureName(d);
    std::optional<Shown>& now = shown_[static_cast<size_t>(d)];
    const std::optional<Wanted>& want = wanted[static_cast<size_t>(d)];
    sim::Enclosure* enclosure = sim_.FindEnclosure(name);
    if (!want) {
      if (now) sim_.SetPlugged(name, false);
      now.reset();
      continue;
    }
    const bool same = now && now->transport == want->shown.transport && now->ident == want->shown.ident;
    if (!same) {
      if (now) sim_.SetPlugged(name, false);
      enclosure->SetTransport(want->shown.transport);
      enclosure->Ident() = want->shown.ident;
    }
    if (!same || enclosure->Status() != want->record) {
      enclosure->Status() = want->record;
      // A vendor bridge's controller is read from its flash log.
      enclosure->LogStatus();
    }
    if (!same) {
      now = want->shown;
      sim_.SetPlugged(name, true);
    }
  }
  return Outcome::Ok();
}

void ServiceMirror::Clear() { (void)Apply({{"enclosures", nlohmann::json::array()}}); }

}  // namespace raid
