#include "shared_state.h"

QuorvanSharedState SharedState;
