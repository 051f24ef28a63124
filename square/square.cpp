#include "square/square.h"

#include "platform/text_reader.h"

namespace square {

void run() { platform::TextReader::open("square.txt"); }

}  // namespace square
