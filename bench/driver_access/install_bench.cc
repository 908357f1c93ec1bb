// Installing a 16 MiB package on the simulated driver. The simulator's own
// time (every call into its COM and WMI objects) is measured apart from the
// program's, through a timing layer between the program and the machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver_access/driver_access.h"
#include "platform/sim/machine.h"
#include "tools/pkgbuild/package_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
double g_sim_seconds = 0;

// Adds the time of one call into the simulator.
template <class F>
auto timed(F&& f) {
  const auto start = Clock::now();
  auto r = f();
  g_sim_seconds += std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

class TimedObject : public plat::WmiObject {
 public:
  explicit TimedObject(std::unique_ptr<plat::WmiObject> inner) : inner_(std::move(inner)) {}
  plat::HResult get(plat::WStringView n, plat::Variant* v, plat::CimType* t) const override {
    return timed([&] { return inner_->get(n, v, t); });
  }
  plat::HResult put(plat::WStringView n, const plat::Variant& v, plat::CimType t) override {
    return timed([&] { return inner_->put(n, v, t); });
  }
  plat::HResult get_method(plat::WStringView n, std::unique_ptr<plat::WmiObject>* in,
                           std::unique_ptr<plat::WmiObject>* out) const override {
    const plat::HResult hr = timed([&] { return inner_->get_method(n, in, out); });
    if (in != nullptr && *in) *in = std::make_unique<TimedObject>(std::move(*in));
    if (out != nullptr && *out) *out = std::make_unique<TimedObject>(std::move(*out));
    return hr;
  }
  plat::HResult spawn_instance(std::unique_ptr<plat::WmiObject>* i) const override {
    return timed([&] { return inner_->spawn_instance(i); });
  }
  plat::HResult get_names(std::vector<plat::WString>* names) const override {
    return timed([&] { return inner_->get_names(names); });
  }
  const plat::WmiObject* inner() const { return inner_.get(); }

 private:
  std::unique_ptr<plat::WmiObject> inner_;
};

class TimedServices : public plat::WmiServices {
 public:
  explicit TimedServices(std::unique_ptr<plat::WmiServices> inner) : inner_(std::move(inner)) {}
  plat::HResult get_object(plat::WStringView path, std::unique_ptr<plat::WmiObject>* o) override {
    const plat::HResult hr = timed([&] { return inner_->get_object(path, o); });
    if (o != nullptr && *o) *o = std::make_unique<TimedObject>(std::move(*o));
    return hr;
  }
  plat::HResult exec_method(plat::WStringView path, plat::WStringView method,
                            const plat::WmiObject* in, std::unique_ptr<plat::WmiObject>* out) override {
    const auto* t = dynamic_cast<const TimedObject*>(in);
    const plat::HResult hr =
        timed([&] { return inner_->exec_method(path, method, t != nullptr ? t->inner() : in, out); });
    if (out != nullptr && *out) *out = std::make_unique<TimedObject>(std::move(*out));
    return hr;
  }

 private:
  std::unique_ptr<plat::WmiServices> inner_;
};

class TimedLocator : public plat::WmiLocator {
 public:
  explicit TimedLocator(std::unique_ptr<plat::WmiLocator> inner) : inner_(std::move(inner)) {}
  plat::HResult connect_server(plat::WStringView ns, std::int32_t flags,
                               std::unique_ptr<plat::WmiServices>* s) override {
    const plat::HResult hr = timed([&] { return inner_->connect_server(ns, flags, s); });
    if (s != nullptr && *s) *s = std::make_unique<TimedServices>(std::move(*s));
    return hr;
  }

 private:
  std::unique_ptr<plat::WmiLocator> inner_;
};

class TimedCom : public plat::Com {
 public:
  explicit TimedCom(plat::Com* inner) : inner_(inner) {}
  plat::HResult initialize_ex(std::uint32_t c) override {
    return timed([&] { return inner_->initialize_ex(c); });
  }
  void uninitialize() override {
    timed([&] {
      inner_->uninitialize();
      return 0;
    });
  }
  plat::HResult initialize_security(std::int32_t a, std::uint32_t l, std::uint32_t i,
                                    std::uint32_t c) override {
    return timed([&] { return inner_->initialize_security(a, l, i, c); });
  }
  plat::HResult create_locator(const plat::Guid& clsid,
                               std::unique_ptr<plat::WmiLocator>* locator) override {
    const plat::HResult hr = timed([&] { return inner_->create_locator(clsid, locator); });
    if (locator != nullptr && *locator) *locator = std::make_unique<TimedLocator>(std::move(*locator));
    return hr;
  }

 private:
  plat::Com* inner_;
};

std::vector<uint8_t> package_of(size_t bytes) {
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "1.0.0.1")};
  pkgbuild::Bytes data(bytes);
  std::mt19937 rng(7);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  p.entries.push_back({.dir_type = 4, .data = std::move(data)});
  p.entries.push_back({.directive = 3, .dir_type = 2, .dir_item_length = 4096});
  return pkgbuild::build_package(p);
}

void BM_InstallPackage16MiB(benchmark::State& state) {
  const std::vector<uint8_t> pkg = package_of((16u << 20) - 4096);
  const std::string dir = (std::filesystem::temp_directory_path() / "vrex-install-bench").string();
  const nlohmann::json d = {
      {"state_dir", dir},
      {"adapters",
       {{{"description", "Bench adapter"},
         {"pci", {{"vendor", "0xE7A5"}, {"device", "0x7A81"}, {"subsystem_vendor", "0xE7A5"},
                  {"subsystem", "0x0211"}, {"revision", "0x11"}}},
         {"location", {{"segment", 0}, {"bus", 3}, {"device", 0}, {"function", 0}}},
         {"net_cfg_instance_id", "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C0B1}"},
         {"driver", {{"service", "vrexnd"}, {"file", "vrexnd.sys"}, {"version", "1.0"}}},
         {"mac", "02:00:00:00:00:01"},
         {"firmware", {{"nvm_size", 64 << 20}}}}}}};
  double total = 0;
  double sim = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::string error;
    auto machine = plat::sim::Machine::from_json(d.dump(), "", &error);
    if (!machine) {
      state.SkipWithError(error.c_str());
      return;
    }
    TimedCom com(machine->services().com);
    plat::Services services = machine->services();
    services.com = &com;
    plat::Services* previous = plat::set_platform_services(&services);
    g_sim_seconds = 0;
    state.ResumeTiming();

    const auto start = Clock::now();
    int32_t problem = 0;
    uint8_t reset = 0;
    const int32_t status = vrexnvmInstallPackage("Bench adapter", pkg.data(),
                                                 static_cast<uint32_t>(pkg.size()), &problem, &reset, 0, 0);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    sim += g_sim_seconds;

    state.PauseTiming();
    plat::set_platform_services(previous);
    if (status != 0) state.SkipWithError("install failed");
    machine.reset();
    state.ResumeTiming();
  }
  std::filesystem::remove_all(dir);
  const double n = static_cast<double>(state.iterations());
  state.counters["total_ms"] = 1000 * total / n;
  state.counters["simulator_ms"] = 1000 * sim / n;
  state.counters["program_ms"] = 1000 * (total - sim) / n;
  state.counters["program_MiB_per_s"] =
      (total - sim) > 0 ? (static_cast<double>(pkg.size()) * n / (1 << 20)) / (total - sim) : 0;
}
BENCHMARK(BM_InstallPackage16MiB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
