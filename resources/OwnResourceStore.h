#pragma once
#include "OwnResources.h"

// The store of the tool's own data (icons, logo, access-code templates, About page), built from this
// folder at build time.
const hexaloom::ResourceStore& OwnResourceStore();
