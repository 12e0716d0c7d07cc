// What every binding file needs to speak to the host.
//
// The host is the Python interpreter that loads these extension modules.
// "The host's X" (its str(), repr(), ==, open(), strip(), regular
// expressions, decoding) means what that interpreter does, called through
// its C interface or its modules, never copied into C++. Only files under
// bindings/ include these headers; each focused header can be included alone.
#pragma once

#include "bindings/host/error_translator.hpp"
#include "bindings/host/errors.hpp"
#include "bindings/host/extras.hpp"
#include "bindings/host/files.hpp"
#include "bindings/host/interruptible.hpp"
#include "bindings/host/kinds.hpp"
#include "bindings/host/modules.hpp"
#include "bindings/host/text.hpp"
