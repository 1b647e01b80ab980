// The key of an exe built without one. An exe that has a key defines
// PublisherKey in one of its own objects, and the linker then never takes
// this one from the library.
#include "workflow/publisher_key.h"

const std::uint8_t* PublisherKey() noexcept { return nullptr; }
