// The toolkit shared by chronvale's extension modules (header-only).
#pragma once

#include "reru/ref.hpp"
#include "reru/args.hpp"
#include "reru/globals.hpp"
#include "reru/function.hpp"
#include "reru/module.hpp"
#include "reru/types.hpp"
#include "reru/text.hpp"
