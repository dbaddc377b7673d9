#pragma once
#include <cstdint>
#include <string>

// The SoC's three unique-id words, read through "/dev/mem" (memHostPath is
// the resolved path of that node). False on any failure, the words then
// untouched.
bool linuxReadSocIdWords(const std::string& memHostPath, uint16_t& x, uint16_t& y, uint16_t& z);
