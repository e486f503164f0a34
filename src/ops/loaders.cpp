#include "ops/loaders.h"

namespace rombolt {

const LoaderImage BuiltinGbaLoader{};
const LoaderImage BuiltinGbLoader{};

}  // namespace rombolt
