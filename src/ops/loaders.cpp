// The built-in boot loaders. Their source is in loaders/ at the top of the
// repository; the images built from it are committed in loaders/built/ and
// turned into these byte lists when the build is configured.
#include "ops/loaders.h"

namespace rombolt {

const LoaderImage BuiltinGbaLoader = {
#include "ops/gba_loader.inc"
};

const LoaderImage BuiltinGbLoader = {
#include "ops/gb_loader.inc"
};

}  // namespace rombolt
