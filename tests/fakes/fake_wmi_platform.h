#pragma once
// A stand-in for the WMI layer: each step answers as the test sets it, and a
// journal records every call and every interface given back, in order.
#include <cstdint>
#include <string>
#include <vector>

#include "sysinfo/wmi_platform.h"

namespace tavsn::fakewmi {

using wmios::HResult;

constexpr HResult kChangedMode = static_cast<HResult>(0x80010106);  // RPC_E_CHANGED_MODE
constexpr HResult kFalse = 1;                                       // S_FALSE
constexpr HResult kNotFound = static_cast<HResult>(0x80041002);     // WBEM_E_NOT_FOUND

struct State {
  HResult initialize = wmios::kOk;
  HResult create = wmios::kOk;
  HResult connect = wmios::kOk;
  HResult blanket = wmios::kOk;
  HResult enumerate = wmios::kOk;
  HResult next = wmios::kOk;
  std::uint32_t next_returns = 1;  // objects Next hands out
  HResult get_major = wmios::kOk;
  std::uint32_t major = 3;  // only its low byte is read
  HResult get_minor = wmios::kOk;
  std::uint32_t minor = 4;
  HResult get_data = wmios::kOk;
  bool data_is_byte_array = true;
  std::vector<std::uint8_t> table;

  // "CoInitializeEx", "create locator", ..., "release object", "CoUninitialize".
  std::vector<std::string> journal;
  int live_interfaces = 0;
};

State& state();
void Reset();

}  // namespace tavsn::fakewmi
