#pragma once
// The test headers precompiled for the sharing tests: the network set and the sharing fixture.
#include "support/net/Precompiled.h"

#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "sharing/core/SX.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"
