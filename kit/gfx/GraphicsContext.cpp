#include "kit/gfx/GraphicsContext.h"

namespace kit {

GraphicsContext::~GraphicsContext() = default;

} // namespace kit
