// device_io.cc: the adapters' simulated device objects and their NDIS
// answers.
#include <algorithm>

#include "platform/sim/machine_impl.h"

namespace plat::sim {

namespace {

class SimDeviceIo : public DeviceIo {
 public:
  explicit SimDeviceIo(MachineImpl* m) : m_(m) {}

  std::uint32_t open_device(std::string_view path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition, Handle* device) override {
    (void)access;
    (void)share;
    std::string key(path);
    std::uint32_t rc = kErrorFileNotFound;
    *device = kNoHandle;
    // "\\\\.\\Global\\{GUID}", "\\\\.\\{GUID}" or "\\\\?\\Global\\{GUID}".
    std::string_view name = path;
    if (name.substr(0, 4) == "\\\\.\\" || name.substr(0, 4) == "\\\\?\\") {
      name.remove_prefix(4);
      if (name.size() >= 7 && iequals(name.substr(0, 7), "Global\\")) name.remove_prefix(7);
    } else {
      name = {};
    }
    if (auto f = m_->fault("device_io", "open_device", key)) {
      rc = *f;
    } else if (!name.empty() && disposition == kOpenExisting) {
      for (std::size_t i = 0; i < m_->adapters.size(); ++i) {
        if (!iequals(m_->adapters[i].net_cfg_instance_id, name)) continue;
        if (available(static_cast<int>(i))) {
          HandleEntry e{HandleEntry::Kind::kDevice};
          e.adapter = static_cast<int>(i);
          e.name = m_->adapters[i].net_cfg_instance_id;
          *device = m_->add_handle(std::move(e));
          rc = kErrorSuccess;
        }
        break;
      }
    } else if (!name.empty()) {
      rc = kErrorInvalidParameter;
    } else {
      rc = kErrorInvalidName;
    }
    m_->record("device_io", "open_device", key, rc);
    return rc;
  }

  std::uint32_t io_control(Handle device, std::uint32_t code, std::span<const std::uint8_t> input,
                           std::span<std::uint8_t> output, std::uint32_t* returned) override {
    *returned = 0;
    HandleEntry* e = m_->handle(device, HandleEntry::Kind::kDevice);
    std::uint32_t oid = 0;
    if (input.size() >= 4) {
      oid = static_cast<std::uint32_t>(input[0]) | (static_cast<std::uint32_t>(input[1]) << 8) |
            (static_cast<std::uint32_t>(input[2]) << 16) | (static_cast<std::uint32_t>(input[3]) << 24);
    }
    std::string key = (e != nullptr ? e->name : std::string("?")) + "|" + hex32(code) + "|" + hex32(oid);
    std::uint32_t rc = kErrorSuccess;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("device_io", "io_control", key)) {
      rc = *f;
    } else if (!available(e->adapter)) {
      rc = kErrorDeviceNotConnected;  // the device went away under an open handle
    } else if (code != kIoctlNdisQueryGlobalStats) {
      rc = kErrorInvalidFunction;
    } else if (input.size() < 4) {
      rc = kErrorInvalidParameter;
    } else {
      const auto& answers = m_->oids[static_cast<std::size_t>(e->adapter)];
      auto it = answers.find(oid);
      if (it == answers.end()) {
        rc = kErrorNotSupported;
      } else if (it->second.error != 0) {
        rc = it->second.error;
      } else {
        const OidAnswer& a = it->second;
        if (output.size() < a.data.size()) {
          rc = kErrorInsufficientBuffer;
        } else {
          std::copy(a.data.begin(), a.data.end(), output.begin());
          *returned = a.length.value_or(static_cast<std::uint32_t>(a.data.size()));
          *returned = std::min<std::uint32_t>(*returned, static_cast<std::uint32_t>(output.size()));
        }
      }
    }
    m_->record("device_io", "io_control", key, rc);
    return rc;
  }

 private:
  // A device object exists while the adapter is present, enabled and started.
  bool available(int adapter) const {
    auto i = static_cast<std::size_t>(adapter);
    if (!m_->has_device_object[i] || !m_->adapter_enabled(adapter)) return false;
    for (const auto& d : m_->devices) {
      if (d.adapter == adapter) return (d.status & kDnStarted) != 0 && d.problem == 0;
    }
    return false;
  }

  MachineImpl* m_;
};

class SimIpHelper : public IpHelper {
 public:
  explicit SimIpHelper(MachineImpl* m) : m_(m) {}

  std::uint32_t get_adapters_info(IpAdapterInfoList* list, std::uint32_t* size) override {
    IpAdapterInfoList current;
    for (std::size_t i = 0; i < m_->ip_info.size(); ++i) {
      if (m_->adapter_enabled(m_->ip_info_adapter[i])) current.push_back(m_->ip_info[i]);
    }
    std::uint32_t need = ip_info_list_size(current);
    std::uint32_t rc = kErrorSuccess;
    std::string key = std::to_string(size != nullptr ? *size : 0);
    if (auto f = m_->fault("ip_helper", "get_adapters_info", key)) {
      rc = *f;
      if (rc == kErrorBufferOverflow && size != nullptr) *size = need;
    } else if (size == nullptr) {
      rc = kErrorInvalidParameter;
    } else if (current.empty()) {
      rc = kErrorNoData;
    } else if (list == nullptr || *size < need) {
      *size = need;
      rc = kErrorBufferOverflow;
    } else {
      *list = std::move(current);
    }
    m_->record("ip_helper", "get_adapters_info", key, rc);
    return rc;
  }

  std::uint32_t get_adapters_addresses(std::uint16_t family, std::uint32_t flags,
                                       IpAdapterAddressesList* list, std::uint32_t* size) override {
    IpAdapterAddressesList current;
    for (std::size_t i = 0; i < m_->ip_addresses.size(); ++i) {
      if (!m_->adapter_enabled(m_->ip_addresses_adapter[i])) continue;
      IpAdapterAddresses a = m_->ip_addresses[i];
      filter(a, family, flags);
      current.push_back(std::move(a));
    }
    // The loopback pseudo-interface is always there.
    IpAdapterAddresses lo;
    lo.adapter_name = "{4C0D0000-0000-0000-0000-000000000001}";
    lo.friendly_name = u"Loopback Pseudo-Interface 1";
    lo.description = u"Software Loopback Interface 1";
    lo.if_type = kMibIfTypeLoopback;
    lo.if_index = 1;
    UnicastAddress u6;
    u6.address.family = kAfInet6;
    u6.address.length = 28;
    u6.address.address[15] = 1;
    u6.prefix_origin = u6.suffix_origin = 2;
    u6.dad_state = 4;
    u6.valid_lifetime = u6.preferred_lifetime = u6.lease_lifetime = 0xFFFFFFFFu;
    UnicastAddress u4;
    u4.address.family = kAfInet;
    u4.address.length = 16;
    u4.address.address[0] = 127;
    u4.address.address[3] = 1;
    u4.prefix_origin = u4.suffix_origin = 2;
    u4.dad_state = 4;
    u4.valid_lifetime = u4.preferred_lifetime = u4.lease_lifetime = 0xFFFFFFFFu;
    lo.unicast = {u6, u4};
    filter(lo, family, flags);
    current.insert(current.begin(), std::move(lo));

    std::uint32_t need = ip_addresses_list_size(current);
    std::uint32_t rc = kErrorSuccess;
    std::string key = std::to_string(family) + "|" + hex32(flags) + "|" +
                      std::to_string(size != nullptr ? *size : 0);
    if (auto f = m_->fault("ip_helper", "get_adapters_addresses", key)) {
      rc = *f;
      if (rc == kErrorBufferOverflow && size != nullptr) *size = need;
    } else if (size == nullptr || (family != kAfUnspec && family != kAfInet && family != kAfInet6)) {
      rc = kErrorInvalidParameter;
    } else if (list == nullptr || *size < need) {
      *size = need;
      rc = kErrorBufferOverflow;
    } else {
      *list = std::move(current);
    }
    m_->record("ip_helper", "get_adapters_addresses", key, rc);
    return rc;
  }

 private:
  static void filter(IpAdapterAddresses& a, std::uint16_t family, std::uint32_t flags) {
    std::vector<UnicastAddress> keep;
    for (const auto& u : a.unicast) {
      if (family == kAfUnspec || u.address.family == family) keep.push_back(u);
    }
    a.unicast = (flags & kGaaFlagSkipUnicast) ? std::vector<UnicastAddress>{} : keep;
    std::vector<SocketAddress> gws;
    if (flags & kGaaFlagIncludeGateways) {
      for (const auto& g : a.gateways) {
        if (family == kAfUnspec || g.family == family) gws.push_back(g);
      }
    }
    a.gateways = gws;
  }

  MachineImpl* m_;
};

}  // namespace

std::unique_ptr<DeviceIo> make_device_io(MachineImpl* m) { return std::make_unique<SimDeviceIo>(m); }
std::unique_ptr<IpHelper> make_ip_helper(MachineImpl* m) { return std::make_unique<SimIpHelper>(m); }

}  // namespace plat::sim
