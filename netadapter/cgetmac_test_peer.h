#pragma once
// For tests only: CGetMac's private operations (cgetmac_peer.h), and the
// fixture that gives each test fresh fakes with the log open.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "netadapter/cgetmac.h"
#include "netadapter/cgetmac_peer.h"
#include "tests/fakes/fake_log_platform.h"
#include "tests/fakes/fake_net_platform.h"

namespace tavsn {

// A MacList's entries, for comparing with what a test expects.
inline std::vector<std::string> Texts(const MacList& macs) {
  std::vector<std::string> texts;
  for (int i = 0; i < macs.size(); ++i) texts.emplace_back(macs[i]);
  return texts;
}

inline MacList MacListOf(std::initializer_list<const char*> texts) {
  MacList macs;
  for (const char* text : texts) macs.Append(text);
  return macs;
}

using MacTexts = std::vector<std::string>;

class AdapterFakesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakenet::Reset();
    fakelog::Reset();
    fakelog::EnableProcessLog();
  }
};

}  // namespace tavsn
