#include "kit/GraphicsContext.h"

namespace kit {

GraphicsContext::~GraphicsContext() = default;

} // namespace kit
