#pragma once
// The test headers precompiled for targets that run loopback servers: the base set and the
// network test support.
#include "support/Precompiled.h"

#include "platform/net/CookieStore.h"
#include "platform/net/NetErrors.h"
#include "platform/net/ProxySettings.h"
#include "platform/net/ReachabilityProvider.h"
#include "platform/net/TLSSettings.h"
#include "support/net/ChildProcess.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/NginxServer.h"
#include "support/net/ProxyServers.h"
#include "support/net/TestCertificates.h"
