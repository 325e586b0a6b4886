#include "link/serial_port.h"

#include <cctype>

namespace zolt {

int SerialPort::SendData(const std::uint8_t* bytes, int count) {
    if (!IsOpen()) return -1;
    (void)WriteData(bytes, count);
    return count;
}

int ComPortNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 8) return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    }
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace zolt
