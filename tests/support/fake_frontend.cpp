#include "support/fake_frontend.h"
