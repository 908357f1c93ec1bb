// registry.cc: the simulated registry.
#include <algorithm>

#include "platform/sim/machine_impl.h"
#include "platform/sim/text.h"

namespace plat::sim {

namespace {

class SimRegistry : public Registry {
 public:
  explicit SimRegistry(MachineImpl* m) : m_(m) {}

  std::uint32_t open_key(Handle parent, std::string_view subkey, std::uint32_t access,
                         Handle* key) override {
    return open(parent, from_ansi(m_->ansi_code_page, subkey), access, key, "open_key");
  }

  std::uint32_t open_key_w(Handle parent, WStringView subkey, std::uint32_t access,
                           Handle* key) override {
    return open(parent, narrow(subkey), access, key, "open_key_w");
  }

  std::uint32_t query_value(Handle key, std::string_view name, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) override {
    return query(key, from_ansi(m_->ansi_code_page, name), false, type, data, size, "query_value");
  }

  std::uint32_t query_value_w(Handle key, WStringView name, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* size) override {
    return query(key, narrow(name), true, type, data, size, "query_value_w");
  }

  std::uint32_t query_info_key(Handle key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len,
                               std::uint32_t* values) override {
    std::string path;
    RegNode* node = resolve(key, &path);
    std::uint32_t rc = kErrorSuccess;
    if (node == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("registry", "query_info_key", path)) {
      rc = *f;
    } else {
      std::size_t longest = 0;
      for (const auto& c : node->children) longest = std::max(longest, widen(c->name).size());
      if (subkeys != nullptr) *subkeys = static_cast<std::uint32_t>(node->children.size());
      if (max_subkey_len != nullptr) *max_subkey_len = static_cast<std::uint32_t>(longest);
      if (values != nullptr) *values = static_cast<std::uint32_t>(node->values.size());
    }
    m_->record("registry", "query_info_key", path, rc);
    return rc;
  }

  std::uint32_t enum_key(Handle key, std::uint32_t index, char* name,
                         std::uint32_t* name_len) override {
    std::string found;
    std::uint32_t rc = enumerate(key, index, &found, "enum_key");
    if (rc == kErrorSuccess) {
      std::string a = to_ansi(m_->ansi_code_page, found);
      rc = copy_name(a, name, name_len);
    }
    return rc;
  }

  std::uint32_t enum_key_w(Handle key, std::uint32_t index, char16_t* name,
                           std::uint32_t* name_len) override {
    std::string found;
    std::uint32_t rc = enumerate(key, index, &found, "enum_key_w");
    if (rc == kErrorSuccess) rc = copy_name(widen(found), name, name_len);
    return rc;
  }

  std::uint32_t close_key(Handle key) override {
    std::uint32_t rc = kErrorSuccess;
    if (!MachineImpl::root_name(key).empty()) {
      rc = kErrorSuccess;
    } else if (m_->handle(key, HandleEntry::Kind::kKey) == nullptr) {
      rc = kErrorInvalidHandle;
    } else {
      m_->remove_handle(key);
    }
    m_->record("registry", "close_key", "", rc);
    return rc;
  }

 private:
  // The node and full path of an open key or root key.
  RegNode* resolve(Handle key, std::string* path) {
    std::string root = MachineImpl::root_name(key);
    if (!root.empty()) {
      *path = root;
      return root == "HKLM" ? m_->hklm.get() : nullptr;
    }
    HandleEntry* e = m_->handle(key, HandleEntry::Kind::kKey);
    if (e == nullptr) {
      *path = "?";
      return nullptr;
    }
    *path = e->name;
    return m_->find_key(e->name);
  }

  std::uint32_t open(Handle parent, const std::string& subkey, std::uint32_t access, Handle* key,
                     const char* call) {
    std::string base;
    RegNode* node = resolve(parent, &base);
    std::string path = base;
    std::uint32_t rc = kErrorSuccess;
    if (node == nullptr && MachineImpl::root_name(parent).empty()) {
      rc = kErrorInvalidHandle;
    } else {
      std::string_view rest = subkey;
      std::string display = base;
      while (node != nullptr && !rest.empty()) {
        std::size_t slash = rest.find('\\');
        std::string_view part = rest.substr(0, slash);
        if (!part.empty()) {
          node = node->child(part);
          if (node != nullptr) display += "\\" + node->name;
        }
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
      }
      path = base + (subkey.empty() ? "" : "\\" + subkey);
      if (auto f = m_->fault("registry", call, path)) {
        rc = *f;
      } else if (node == nullptr) {
        rc = kErrorFileNotFound;
      } else if ((access & ~(kKeyAllAccess | 0x0300u)) != 0) {
        rc = kErrorAccessDenied;
      } else {
        HandleEntry e{HandleEntry::Kind::kKey};
        e.name = display;
        *key = m_->add_handle(std::move(e));
      }
    }
    m_->record("registry", call, path, rc);
    return rc;
  }

  std::uint32_t query(Handle key, const std::string& name, bool wide, std::uint32_t* type,
                      std::uint8_t* data, std::uint32_t* size, const char* call) {
    std::string path;
    RegNode* node = resolve(key, &path);
    std::string k = path + "|" + name;
    std::uint32_t rc = kErrorSuccess;
    if (node == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("registry", call, k)) {
      rc = *f;
    } else if (data != nullptr && size == nullptr) {
      rc = kErrorInvalidParameter;
    } else {
      const RegValue* v = node->value(name);
      if (v == nullptr) {
        rc = kErrorFileNotFound;
      } else {
        std::vector<std::uint8_t> bytes = encode(*v, wide);
        if (type != nullptr) *type = v->type;
        auto n = static_cast<std::uint32_t>(bytes.size());
        if (data != nullptr && *size < n) {
          rc = kErrorMoreData;
        } else if (data != nullptr) {
          std::copy(bytes.begin(), bytes.end(), data);
        }
        if (size != nullptr) *size = n;
      }
    }
    m_->record("registry", call, k, rc);
    return rc;
  }

  // A value's bytes as the 8-bit or the wide call returns them.
  std::vector<std::uint8_t> encode(const RegValue& v, bool wide) const {
    if (v.type != kRegSz && v.type != kRegExpandSz && v.type != kRegMultiSz) return v.data;
    std::string s(v.data.begin(), v.data.end());
    if (!wide) {
      std::string a = to_ansi(m_->ansi_code_page, s);
      return {a.begin(), a.end()};
    }
    WString w = widen(s);
    std::vector<std::uint8_t> out;
    for (char16_t c : w) {
      out.push_back(static_cast<std::uint8_t>(c & 0xFF));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
  }

  std::uint32_t enumerate(Handle key, std::uint32_t index, std::string* found, const char* call) {
    std::string path;
    RegNode* node = resolve(key, &path);
    std::string k = path + "|" + std::to_string(index);
    std::uint32_t rc = kErrorSuccess;
    if (node == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("registry", call, k)) {
      rc = *f;
    } else if (index >= node->children.size()) {
      rc = kErrorNoMoreItems;
    } else {
      *found = node->children[index]->name;
    }
    m_->record("registry", call, k, rc);
    return rc;
  }

  template <typename S, typename C>
  static std::uint32_t copy_name(const S& text, C* out, std::uint32_t* len) {
    if (out == nullptr || len == nullptr) return kErrorInvalidParameter;
    if (text.size() + 1 > *len) return kErrorMoreData;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = C{0};
    *len = static_cast<std::uint32_t>(text.size());
    return kErrorSuccess;
  }

  MachineImpl* m_;
};

}  // namespace

std::unique_ptr<Registry> make_registry(MachineImpl* m) { return std::make_unique<SimRegistry>(m); }

}  // namespace plat::sim
