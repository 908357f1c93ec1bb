// ndam_bench.cc: adapter discovery on a simulated machine of 32 adapters.
//   InitializeAndFillAll: ngNdamInitialize, ngNdamGetNumPhyNic, a full
//     ngNdamGetAllPhyNic and ngNdamUninitialize, as one run of the program
//     does it;
//   FillAll: only the fills, on an initialised library;
//   FillOne: one ngNdamGetPhyNic.
// Logging is off (no configuration file), as on a machine in service.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ndam/ngndam.h"
#include "platform/sim/machine.h"

namespace {

constexpr int kAdapters = 32;

// 16 two-function adapters of the later family and 16 of the earlier one,
// each with an IPv4 and an IPv6 address.
std::string machine_json() {
  nlohmann::json adapters = nlohmann::json::array();
  for (int i = 0; i < kAdapters; ++i) {
    bool later = i < kAdapters / 2;
    nlohmann::json a = {
        {"pci", {{"vendor", 0xE7A5}, {"device", later ? 0x7A81 : 0x7A45}, {"subsystem", 0x0101},
                 {"revision", 0x11}}},
        {"location", {{"bus", later ? 0x10 + i / 2 : 0x20 + i}, {"device", 0},
                      {"function", later ? i % 2 : 0}}},
        {"friendly_name", "Vantera port " + std::to_string(i + 1)},
        {"ipv4", {{"dhcp", false},
                  {"addresses", {{{"address", "10.1." + std::to_string(i) + ".5"},
                                  {"mask", "255.255.255.0"}}}},
                  {"gateways", {"10.1." + std::to_string(i) + ".1"}}}},
        {"ipv6", {{"addresses", {{{"address", "2001:db8::" + std::to_string(i + 1)}}}},
                  {"gateways", {"fe80::1"}}}},
        {"sriov", {{"enabled", true}, {"num_vfs", 8}, {"allocated_vfs", 2}}},
    };
    adapters.push_back(a);
  }
  return nlohmann::json{{"adapters", adapters}}.dump();
}

struct Installed {
  std::unique_ptr<plat::sim::Machine> machine;
  std::unique_ptr<plat::sim::Machine::Installed> guard;
};

Installed& machine() {
  static Installed m = [] {
    Installed i;
    std::string error;
    i.machine = plat::sim::Machine::from_json(machine_json(), "", &error);
    if (!i.machine) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    i.guard = i.machine->install();
    return i;
  }();
  return m;
}

std::uint32_t init() {
  return ngNdamInitialize(ngNDAM_VERSION_MAJOR, ngNDAM_VERSION_MINOR, ngNDAM_VERSION_BUILD);
}

void InitializeAndFillAll(benchmark::State& state) {
  machine();
  std::vector<PhyNic> records(kAdapters);
  std::size_t calls = 0;
  for (auto _ : state) {
    if (init() != ngNDAM_OK) state.SkipWithError("initialisation failed");
    std::uint32_t n = 0;
    ngNdamGetNumPhyNic(&n);
    ngNdamGetAllPhyNic(records.data(), n);
    benchmark::DoNotOptimize(records.data());
    ngNdamUninitialize();
    // The machine's call record would otherwise grow without end.
    state.PauseTiming();
    calls += machine().machine->calls().size();
    machine().machine->clear_calls();
    state.ResumeTiming();
  }
  state.counters["seam_calls"] =
      static_cast<double>(calls) / static_cast<double>(state.iterations());
}
BENCHMARK(InitializeAndFillAll)->Unit(benchmark::kMillisecond);

void FillAll(benchmark::State& state) {
  machine();
  init();
  std::vector<PhyNic> records(kAdapters);
  machine().machine->clear_calls();
  std::size_t calls = 0;
  for (auto _ : state) {
    ngNdamGetAllPhyNic(records.data(), kAdapters);
    benchmark::DoNotOptimize(records.data());
    state.PauseTiming();
    calls += machine().machine->calls().size();
    machine().machine->clear_calls();
    state.ResumeTiming();
  }
  state.counters["seam_calls"] =
      static_cast<double>(calls) / static_cast<double>(state.iterations());
  ngNdamUninitialize();
}
BENCHMARK(FillAll)->Unit(benchmark::kMillisecond);

void FillOne(benchmark::State& state) {
  machine();
  init();
  PhyNic record{};
  for (auto _ : state) {
    ngNdamGetPhyNic(1, &record);
    benchmark::DoNotOptimize(&record);
    state.PauseTiming();
    machine().machine->clear_calls();
    state.ResumeTiming();
  }
  machine().machine->clear_calls();
  ngNdamUninitialize();
}
BENCHMARK(FillOne)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
