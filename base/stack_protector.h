#pragma once
// The stack protector's cookie: seeded once per load, from the entry point.

namespace tavsn {

void SeedStackCookie(void* module) noexcept;

}  // namespace tavsn
