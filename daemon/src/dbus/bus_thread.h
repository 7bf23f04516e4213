// Two mends for the thread in which Qt runs every bus connection: one keeps
// the system bus read after a burst, one lets it finish its work at exit.
#pragma once

// Makes the bus thread watch each connection's socket as libdbus last asked,
// which Qt fails to do when the request comes from the main thread. Call it
// after a burst of events, once their messages are freed.
void resumeBusReading();

// Blocks, 500 ms at most, until the error replies to calls sent without
// awaiting the reply have been handled by the bus thread, which drops what it
// has not handled when the process ends. For the program's exit only.
void settleBusReplies();
