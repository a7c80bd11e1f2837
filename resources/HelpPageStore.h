#pragma once
#include "OwnResources.h"

// The store that holds the built-in help page (help.html) as its one entry, built at build time.
const hexaloom::ResourceStore& HelpPageStore();
