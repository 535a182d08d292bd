#pragma once

#include <string>

namespace vel {

// The operator's serial line settings as the four list indices of the communication settings,
// with the port override data kept beside them. Start values: 9600 baud, no parity, one stop
// bit, 8 data bits.
struct SerialSettings {
  int baudIndex = 5;      // 0..7: 300 * 2^index
  int parityIndex = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBitsIndex = 0;  // 0 one, 1 one and a half, 2 two
  int dataBitsIndex = 1;  // 0 seven, 1 eight
  std::string portAddress = "3F8";
  int portIrq = 4;
  bool overridePort = false;

  // Baud rate of the baud index (300 for an index out of range below, 38400 above).
  int BaudRate() const;
  int DataBits() const { return dataBitsIndex == 0 ? 7 : 8; }
};

// Default port address and IRQ of a port-list position (COM1..COM4); positions beyond keep
// whatever the settings hold.
std::string PortAddressFor(int position, const SerialSettings& settings);
int PortIrqFor(int position, const SerialSettings& settings);
void PresetPortOverride(int position, SerialSettings& settings);

}  // namespace vel
