// A mend for the thread in which Qt runs every bus connection: it keeps the
// buses read after a burst.
#pragma once

// Makes the bus thread watch each connection's socket as libdbus last asked,
// which Qt fails to do when the request comes from the main thread. Call it
// after a burst of events, once their messages are freed.
void resumeBusReading();
