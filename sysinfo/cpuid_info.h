#pragma once
// The processor's identification read through CPUID: the signature fields,
// the brand string and the leaf-3 serial text from which the machine
// identifiers take their processor part.
//
//   CpuidInfo cpu;
//   cpu.read_cpuid();
//   if (cpu.has_serial_number_flag()) use(cpu.get_processor_serial_text());
//   else { char details[kProcessorDetailsBufferSize];
//          format_processor_details(cpu, details); use(details); }

#include <cstddef>
#include <cstdint>

namespace tavsn {

class CpuidInfo {
 public:
  // Zeroes the brand and the registers, then executes leaf 0, every basic
  // leaf up to the reported maximum, leaf 0x80000000 and every extended leaf
  // up to its reported maximum. A processor (or hypervisor) that reports an
  // absurd maximum gets no more than kMaxLeavesPastBase leaves per range:
  // what the identifiers use lies far below that.
  void read_cpuid() noexcept;

  std::uint32_t get_model() const noexcept;            // signature bits 4-7
  std::uint32_t get_extended_model() const noexcept;   // bits 16-19
  std::uint32_t get_display_model() const noexcept;    // extended model * 16 + model
  std::uint32_t get_family() const noexcept;           // bits 8-11
  std::uint32_t get_extended_family() const noexcept;  // bits 20-27
  std::uint32_t get_display_family() const noexcept;   // family + extended family
  std::uint32_t get_processor_type() const noexcept;   // bits 12-13

  // Always zero-terminated; empty without the brand leaves.
  const char* get_brand_string() const noexcept;

  // Bit 18 of the signature (leaf 1 EAX), not the feature flag of the same
  // number in EDX. Identifiers already stored were made with this test, so
  // it stays as it is.
  bool has_serial_number_flag() const noexcept;

  // Executes leaf 3 afresh and formats EAX, EBX, ECX (each from its most
  // significant byte) as six groups of four lowercase hex digits.
  const char* get_processor_serial_text() noexcept;

  static constexpr std::uint32_t kMaxLeavesPastBase = 256;

  std::uint32_t max_basic_leaf = 0;
  std::uint32_t max_extended_leaf = 0;
  std::uint32_t leaf0_registers[4] = {};  // EAX, EBX, ECX, EDX
  std::uint32_t leaf1_registers[4] = {};  // EAX is the signature
  std::uint32_t last_registers[4] = {};   // of the last leaf read_cpuid executed
  char brand_string[64] = {};
  char serial_text[48] = {};

 private:
  std::uint32_t signature() const noexcept { return leaf1_registers[0]; }
};

// The processor details text "brand-type-family-model", each number in at
// least 8 decimal digits, into a zero-filled buffer of
// kProcessorDetailsBufferSize bytes holding at most
// kProcessorDetailsMaxLength characters. Returns the text's length.
constexpr std::size_t kProcessorDetailsBufferSize = 513;
constexpr std::size_t kProcessorDetailsMaxLength = 511;
std::size_t format_processor_details(const CpuidInfo& cpu, char (&text)[kProcessorDetailsBufferSize]) noexcept;

}  // namespace tavsn
