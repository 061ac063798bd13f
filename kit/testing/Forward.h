#pragma once
// Declarations of kit's testing layer (the test environment), for headers that
// only name them.

namespace kit {

class TestPlatform;
class TestEnvironment;

} // namespace kit
