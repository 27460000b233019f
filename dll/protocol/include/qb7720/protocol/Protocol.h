#pragma once

// The host's side of the bridge protocol in one include.

#include "qb7720/protocol/BaudRate.h"
#include "qb7720/protocol/BlockReplyAssembler.h"
#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Frames.h"
#include "qb7720/protocol/Replies.h"
#include "qb7720/protocol/Types.h"
