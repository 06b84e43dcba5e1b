// The toolkit shared by chronvale's extension modules (header-only).
#pragma once

#include "reru/args.hpp"
#include "reru/function.hpp"
#include "reru/globals.hpp"
#include "reru/module.hpp"
#include "reru/ops.hpp"
#include "reru/ref.hpp"
#include "reru/text.hpp"
#include "reru/types.hpp"
