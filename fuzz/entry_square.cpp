#include <string>

#include "fuzz/entry.h"
#include "generators/square.h"
#include "platform/text_reader.h"

namespace robust {

void square_entry(const std::uint8_t* data, std::size_t size) {
  platform::TextReader reader("square.txt", std::string(reinterpret_cast<const char*>(data), size));
  const square::Generator g = square::initia(reader);
  static_cast<void>(g);
}

}  // namespace robust
