#pragma once

namespace vornel::test {

// Tests run without a display or a sound card: Qt's offscreen platform and SDL's dummy output,
// unless the caller chose otherwise. Call first thing in main, before any Qt or SDL object.
void PrepareTestEnvironment();

}  // namespace vornel::test
