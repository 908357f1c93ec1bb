// tcpip_test.cc: IPv4 from the adapter-information list with the registry
// fallback for static adapters, and the first IPv6 address and gateway.
#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

struct Ipv4Case {
  const char* name;
  json adapter;  // merged into Adapter()
  std::uint32_t dhcp;
  const char* address;
  const char* mask;
  const char* gateway;
  bool registry_read;
};

TEST_F(NdamTest, Ipv4Addresses) {
  const json two_static = {{"dhcp", false},
                           {"addresses",
                            {{{"address", "10.0.0.5"}, {"mask", "255.255.255.0"}},
                             {{"address", "10.0.1.5"}, {"mask", "255.255.0.0"}}}},
                           {"gateways", {"10.0.0.1"}}};
  json listed_without_address = two_static;
  listed_without_address["list_address"] = "0.0.0.0";
  json current = two_static;
  current["current_ip"] = true;
  const Ipv4Case cases[] = {
      {"static, listed", {{"ipv4", two_static}}, 0, "10.0.0.5", "255.255.255.0", "10.0.0.1",
       false},
      {"static, current address", {{"ipv4", current}}, 0, "10.0.0.5", "255.255.255.0",
       "10.0.0.1", false},
      {"static, listed as 0.0.0.0", {{"ipv4", listed_without_address}}, 0, "10.0.0.5",
       "255.255.255.0", "10.0.0.1", true},
      {"DHCP without a lease", {{"ipv4", {{"dhcp", true}}}}, 1, "0.0.0.0", "0.0.0.0", "0.0.0.0",
       false},
      {"DHCP with a lease",
       {{"ipv4",
         {{"dhcp", true},
          {"addresses", {{{"address", "192.168.7.20"}, {"mask", "255.255.255.0"}}}},
          {"gateways", {"192.168.7.1"}}}}},
       1, "192.168.7.20", "255.255.255.0", "192.168.7.1", false},
      {"not bound", {{"ip_bound", false}}, 0, "", "", "", false},
      {"not Ethernet", {{"ipv4", {{"if_type", 71}}}}, 0, "", "", "", false},
      {"lower-case id", {{"net_cfg_instance_id", "{5e7a00aa-0c1d-4e2f-8a3b-e7a5000000aa}"},
                         {"ipv4", two_static}},
       0, "10.0.0.5", "255.255.255.0", "10.0.0.1", false},
  };
  for (const Ipv4Case& c : cases) {
    SCOPED_TRACE(c.name);
    json a = Adapter();
    a.update(c.adapter, true);
    PhyNic r = OneRecord(a);
    EXPECT_EQ(r.dhcp_enabled, c.dhcp);
    EXPECT_STREQ(r.ipv4_address, c.address);
    EXPECT_STREQ(r.ipv4_subnet_mask, c.mask);
    EXPECT_STREQ(r.ipv4_default_gateway, c.gateway);
    EXPECT_EQ(Calls("registry", "open_key", "Tcpip\\Parameters\\Interfaces\\") > 0,
              c.registry_read);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, Ipv4RegistryFallbackValues) {
  // The interface key disagrees with the list, so the source shows.
  json a = Adapter();
  a["ipv4"] = {{"dhcp", false}, {"list_address", "0.0.0.0"}};
  a["overrides"] = {{"tcpip_key",
                     {{"IPAddress", {{"multi_sz", {"172.16.0.9", "172.16.0.10"}}}},
                      {"SubnetMask", {{"multi_sz", {"255.240.0.0", "255.240.0.0"}}}},
                      {"DefaultGateway", {{"sz", "172.16.0.1"}}}}}};
  PhyNic r = OneRecord(a);
  EXPECT_EQ(r.dhcp_enabled, 0u);
  EXPECT_STREQ(r.ipv4_address, "172.16.0.9");
  EXPECT_STREQ(r.ipv4_subnet_mask, "255.240.0.0");
  EXPECT_STREQ(r.ipv4_default_gateway, "172.16.0.1");
  ngNdamUninitialize();

  // A gateway that does not fit its field is not stored; a missing address
  // reads as empty.
  a["overrides"]["tcpip_key"] = {{"IPAddress", nullptr},
                                 {"DefaultGateway", {{"sz", "172.16.0.1 and more text"}}}};
  r = OneRecord(a);
  EXPECT_STREQ(r.ipv4_address, "");
  EXPECT_STREQ(r.ipv4_default_gateway, "0.0.0.0");
}

struct Ipv6Case {
  const char* name;
  json ipv6;
  std::uint32_t found;
  const char* address;
  const char* gateway;
  std::vector<const char*> log_texts;
};

TEST_F(NdamTest, Ipv6Address) {
  const Ipv6Case cases[] = {
      {"address and gateway",
       {{"addresses",
         {{{"address", "2001:db8::5"}, {"flags", 2}, {"dad_state", 4}, {"valid_lifetime", 3600},
           {"preferred_lifetime", 1800}}}},
        {"gateways", {"fe80::1"}}},
       1, "2001:db8::5", "fe80::1", {}},
      {"no gateway", {{"addresses", {{{"address", "fe80::21a:2bff:fe3c:4d5e"}}}}}, 1,
       "fe80::21a:2bff:fe3c:4d5e", "0000::0", {"ReadIpV6Info() no Gateway_v6 for "}},
      {"no unicast", json::object(), 0, "", "",
       {"ReadIpV6Info() no Unicast for ", "ReadIPv6InfoNET() ipv6 not found for ",
        "ReadIpV6Info() ipv6 not found for "}},
      {"socket address too long",
       {{"addresses", {{{"address", "2001:db8::5"}, {"sockaddr_length", 60}}}}}, 0, "", "",
       {"ReadIPv6InfoNET() iSockaddrLength 60 too long\r\n"}},
  };
  for (const Ipv6Case& c : cases) {
    SCOPED_TRACE(c.name);
    json a = Adapter();
    a["ipv6"] = c.ipv6;
    Load(MachineOf({a}));
    LogAll();
    ASSERT_EQ(Init(), ngNDAM_OK);
    std::vector<PhyNic> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].ipv6_found, c.found);
    EXPECT_STREQ(r[0].ipv6_address, c.address);
    EXPECT_STREQ(r[0].ipv6_gateway, c.gateway);
    if (c.found) {
      EXPECT_EQ(r[0].ipv6_address_family, 23);
    }
    std::string log = Log();
    for (const char* text : c.log_texts) EXPECT_NE(log.find(text), std::string::npos) << text;
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, Ipv6LifetimesAndOrigins) {
  json a = Adapter();
  a["ipv6"] = {{"addresses",
                {{{"address", "2001:db8::7"},
                  {"flags", 2},
                  {"prefix_origin", 3},
                  {"suffix_origin", 4},
                  {"dad_state", 4},
                  {"valid_lifetime", 3600},
                  {"preferred_lifetime", 1800},
                  {"lease_lifetime", 900}},
                 {{"address", "2001:db8::8"}}}},
               {"gateways", {"fe80::1", "fe80::2"}}};
  PhyNic r = OneRecord(a);
  EXPECT_STREQ(r.ipv6_address, "2001:db8::7");
  EXPECT_EQ(r.ipv6_address_flags, 2u);
  EXPECT_EQ(r.ipv6_prefix_origin, 3u);
  EXPECT_EQ(r.ipv6_suffix_origin, 4u);
  EXPECT_EQ(r.ipv6_dad_state, 4u);
  EXPECT_EQ(r.ipv6_valid_lifetime, 3600u);
  EXPECT_EQ(r.ipv6_preferred_lifetime, 1800u);
  EXPECT_EQ(r.ipv6_lease_lifetime, 900u);
  EXPECT_STREQ(r.ipv6_gateway, "fe80::1");
  EXPECT_EQ(r.ipv6_gateway_family, 23);
}

}  // namespace
}  // namespace ndam_test
