// devices.cc: the simulated device installer and configuration manager.
#include "platform/sim/machine_impl.h"
#include "platform/sim/text.h"

namespace plat::sim {

namespace {

const char* prop_name(std::uint32_t id) {
  switch (id) {
    case kSpdrpDeviceDesc: return "SPDRP_DEVICEDESC";
    case kSpdrpHardwareId: return "SPDRP_HARDWAREID";
    case kSpdrpCompatibleIds: return "SPDRP_COMPATIBLEIDS";
    case kSpdrpService: return "SPDRP_SERVICE";
    case kSpdrpClass: return "SPDRP_CLASS";
    case kSpdrpClassGuid: return "SPDRP_CLASSGUID";
    case kSpdrpDriver: return "SPDRP_DRIVER";
    case kSpdrpConfigFlags: return "SPDRP_CONFIGFLAGS";
    case kSpdrpMfg: return "SPDRP_MFG";
    case kSpdrpFriendlyName: return "SPDRP_FRIENDLYNAME";
    case kSpdrpLocationInformation: return "SPDRP_LOCATION_INFORMATION";
    case kSpdrpPhysicalDeviceObjectName: return "SPDRP_PHYSICAL_DEVICE_OBJECT_NAME";
    case kSpdrpCapabilities: return "SPDRP_CAPABILITIES";
    case kSpdrpUiNumber: return "SPDRP_UI_NUMBER";
    case kSpdrpBusTypeGuid: return "SPDRP_BUSTYPEGUID";
    case kSpdrpLegacyBusType: return "SPDRP_LEGACYBUSTYPE";
    case kSpdrpBusNumber: return "SPDRP_BUSNUMBER";
    case kSpdrpEnumeratorName: return "SPDRP_ENUMERATOR_NAME";
    case kSpdrpAddress: return "SPDRP_ADDRESS";
    default: return "SPDRP_?";
  }
}

class SimDeviceInstaller : public DeviceInstaller {
 public:
  explicit SimDeviceInstaller(MachineImpl* m) : m_(m) {}

  std::uint32_t get_class_devs(const Guid* class_guid, std::uint32_t flags, Handle* set) override {
    std::string key = (flags & kDigcfAllClasses) ? "ALLCLASSES"
                      : class_guid != nullptr   ? guid_text(*class_guid)
                                                : "NULL";
    *set = kNoHandle;
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("devices", "get_class_devs", key)) {
      rc = *f;
    } else if (!(flags & kDigcfAllClasses) && class_guid == nullptr) {
      rc = kErrorInvalidParameter;
    } else {
      HandleEntry e{HandleEntry::Kind::kDevSet};
      for (std::size_t i = 0; i < m_->devices.size(); ++i) {
        const SimDevice& d = m_->devices[i];
        if ((flags & kDigcfPresent) && !d.present) continue;
        if (!(flags & kDigcfAllClasses) && !(d.class_guid == *class_guid)) continue;
        e.members.push_back(i);
      }
      *set = m_->add_handle(std::move(e));
    }
    m_->record("devices", "get_class_devs", key, rc);
    return rc;
  }

  std::uint32_t enum_device_info(Handle set, std::uint32_t index, DevInfoData* data) override {
    std::string key = std::to_string(index);
    std::uint32_t rc = kErrorSuccess;
    HandleEntry* e = m_->handle(set, HandleEntry::Kind::kDevSet);
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (index >= e->members.size()) {
      rc = kErrorNoMoreItems;
    } else {
      const SimDevice& d = m_->devices[e->members[index]];
      key += " " + d.instance_id;
      if (auto f = m_->fault("devices", "enum_device_info", key)) {
        rc = *f;
      } else {
        data->class_guid = d.class_guid;
        data->dev_inst = d.dev_inst;
        data->reserved = e->members[index];
      }
    }
    if (rc == kErrorNoMoreItems) {
      if (auto f = m_->fault("devices", "enum_device_info", key)) rc = *f;
    }
    m_->record("devices", "enum_device_info", key, rc);
    return rc;
  }

  std::uint32_t get_device_registry_property(Handle set, const DevInfoData& data,
                                             std::uint32_t property, std::uint32_t* reg_type,
                                             std::uint8_t* buffer, std::uint32_t size,
                                             std::uint32_t* required) override {
    const SimDevice* d = member(set, data);
    std::string key = (d != nullptr ? d->instance_id : std::string("?")) + "|" + prop_name(property);
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "get_device_registry_property", key)) {
      rc = *f;
    } else {
      auto it = d->properties.find(property);
      if (it == d->properties.end()) {
        rc = kErrorInvalidData;
      } else {
        RegValue v = ansi_form(it->second);
        auto n = static_cast<std::uint32_t>(v.data.size());
        if (required != nullptr) *required = n;
        if (reg_type != nullptr) *reg_type = v.type;
        if (buffer == nullptr || size < n) {
          rc = kErrorInsufficientBuffer;
        } else {
          std::copy(v.data.begin(), v.data.end(), buffer);
        }
      }
    }
    m_->record("devices", "get_device_registry_property", key, rc);
    return rc;
  }

  std::uint32_t get_device_instance_id(Handle set, const DevInfoData& data, char* buffer,
                                       std::uint32_t size, std::uint32_t* required) override {
    const SimDevice* d = member(set, data);
    std::string key = d != nullptr ? d->instance_id : "?";
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "get_device_instance_id", key)) {
      rc = *f;
    } else {
      std::string id = to_ansi(m_->ansi_code_page, d->instance_id);
      auto n = static_cast<std::uint32_t>(id.size() + 1);
      if (required != nullptr) *required = n;
      if (buffer == nullptr || size < n) {
        rc = kErrorInsufficientBuffer;
      } else {
        std::copy(id.begin(), id.end(), buffer);
        buffer[id.size()] = '\0';
      }
    }
    m_->record("devices", "get_device_instance_id", key, rc);
    return rc;
  }

  std::uint32_t set_class_install_params(Handle set, const DevInfoData& data,
                                         const PropChangeParams& params,
                                         std::uint32_t params_size) override {
    const SimDevice* d = member(set, data);
    std::string key = (d != nullptr ? d->instance_id : std::string("?")) + "|state " +
                      std::to_string(params.state_change) + " scope " +
                      std::to_string(params.scope);
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "set_class_install_params", key)) {
      rc = *f;
    } else if (params_size != kPropChangeParamsSize || params.header_size != 8 ||
               params.install_function != kDifPropertyChange) {
      rc = kErrorInvalidParameter;
    } else if (params.state_change < kDicsEnable || params.state_change > kDicsPropChange ||
               params.scope < kDicsFlagGlobal || params.scope > kDicsFlagConfigSpecific) {
      rc = kErrorInvalidFlags;
    } else {
      m_->handle(set, HandleEntry::Kind::kDevSet)->install_params[data.reserved] = params;
    }
    m_->record("devices", "set_class_install_params", key, rc);
    return rc;
  }

  std::uint32_t call_class_installer(std::uint32_t dif, Handle set,
                                     const DevInfoData& data) override {
    const SimDevice* d = member(set, data);
    std::string key = (d != nullptr ? d->instance_id : std::string("?")) + "|dif " + std::to_string(dif);
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "call_class_installer", key)) {
      rc = *f;
    } else if (dif != kDifPropertyChange) {
      rc = kErrorDiDoDefault;
    } else {
      rc = apply(set, data, *d);
    }
    m_->record("devices", "call_class_installer", key, rc);
    return rc;
  }

  std::uint32_t change_state(Handle set, const DevInfoData& data) override {
    const SimDevice* d = member(set, data);
    std::string key = d != nullptr ? d->instance_id : "?";
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "change_state", key)) {
      rc = *f;
    } else {
      rc = apply(set, data, *d);
    }
    m_->record("devices", "change_state", key, rc);
    return rc;
  }

  std::uint32_t get_device_install_params(Handle set, const DevInfoData& data,
                                          DevInstallParams* params) override {
    const SimDevice* d = member(set, data);
    std::string key = d != nullptr ? d->instance_id : "?";
    std::uint32_t rc = kErrorSuccess;
    if (d == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("devices", "get_device_install_params", key)) {
      rc = *f;
    } else {
      HandleEntry* e = m_->handle(set, HandleEntry::Kind::kDevSet);
      bool changed = e->install_params.count(data.reserved) != 0;
      params->flags = (changed && d->need_reboot) ? kDiNeedReboot : 0;
      params->flags_ex = 0;
    }
    m_->record("devices", "get_device_install_params", key, rc);
    return rc;
  }

  std::uint32_t destroy_device_info_list(Handle set) override {
    std::uint32_t rc = kErrorSuccess;
    if (m_->handle(set, HandleEntry::Kind::kDevSet) == nullptr) {
      rc = kErrorInvalidHandle;
    } else {
      m_->remove_handle(set);
    }
    m_->record("devices", "destroy_device_info_list", "", rc);
    return rc;
  }

  ConfigRet locate_devnode(std::string_view instance_id, std::uint32_t flags,
                           std::uint32_t* dev_inst) override {
    std::string key(instance_id);
    ConfigRet rc = kCrNoSuchDevnode;
    if (auto f = m_->fault("devices", "locate_devnode", key)) {
      rc = *f;
    } else if (instance_id.empty()) {
      rc = kCrInvalidDeviceId;
    } else {
      for (const auto& d : m_->devices) {
        if (!iequals(d.instance_id, instance_id)) continue;
        if (!d.present && !(flags & kCmLocateDevnodePhantom)) break;
        *dev_inst = d.dev_inst;
        rc = kCrSuccess;
        break;
      }
    }
    m_->record("devices", "locate_devnode", key, rc);
    return rc;
  }

  ConfigRet get_devnode_status(std::uint32_t dev_inst, std::uint32_t* status,
                               std::uint32_t* problem) override {
    const SimDevice* d = nullptr;
    for (const auto& x : m_->devices) {
      if (x.dev_inst == dev_inst) d = &x;
    }
    std::string key = d != nullptr ? d->instance_id : std::to_string(dev_inst);
    ConfigRet rc = kCrSuccess;
    if (auto f = m_->fault("devices", "get_devnode_status", key)) {
      rc = *f;
    } else if (d == nullptr) {
      rc = kCrInvalidDevnode;
    } else if (!d->present) {
      rc = kCrNoSuchDevnode;
    } else if (!m_->device_enabled(*d)) {
      *status = (d->status & ~(kDnStarted | kDnDriverLoaded)) | kDnHasProblem;
      *problem = kCmProbDisabled;
    } else {
      *status = d->status;
      *problem = d->problem;
    }
    m_->record("devices", "get_devnode_status", key, rc);
    return rc;
  }

 private:
  const SimDevice* member(Handle set, const DevInfoData& data) {
    HandleEntry* e = m_->handle(set, HandleEntry::Kind::kDevSet);
    if (e == nullptr) return nullptr;
    for (std::size_t i : e->members) {
      if (i == data.reserved && m_->devices[i].dev_inst == data.dev_inst) return &m_->devices[i];
    }
    return nullptr;
  }

  // Text properties come out in the machine's ANSI code page.
  RegValue ansi_form(const RegValue& v) const {
    if (v.type != kRegSz && v.type != kRegMultiSz && v.type != kRegExpandSz) return v;
    RegValue out;
    out.type = v.type;
    std::string s(v.data.begin(), v.data.end());
    std::string a = to_ansi(m_->ansi_code_page, s);
    out.data.assign(a.begin(), a.end());
    return out;
  }

  // Applies the member's class-install parameters.
  std::uint32_t apply(Handle set, const DevInfoData& data, const SimDevice& d) {
    HandleEntry* e = m_->handle(set, HandleEntry::Kind::kDevSet);
    auto it = e->install_params.find(data.reserved);
    if (it == e->install_params.end()) return kErrorNoAssociatedClass;
    const PropChangeParams& p = it->second;
    if (p.state_change == kDicsPropChange) return kErrorSuccess;
    if (!d.disableable && p.state_change == kDicsDisable) return kErrorNotSupported;
    if (!m_->set_device_enabled(d, p.state_change == kDicsEnable)) return kErrorGenFailure;
    return kErrorSuccess;
  }

  MachineImpl* m_;
};

}  // namespace

std::unique_ptr<DeviceInstaller> make_device_installer(MachineImpl* m) {
  return std::make_unique<SimDeviceInstaller>(m);
}

}  // namespace plat::sim
