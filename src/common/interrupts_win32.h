#pragma once

namespace tarnix {
// What the Win32 port layer tells the interrupt handling: when the main thread is inside its
// port read. The console handler ends only that read (CancelSynchronousIo); cancelling any other
// synchronous call of the thread could cut a frame on its way out.

void BeginInterruptibleRead();
void EndInterruptibleRead();

}  // namespace tarnix
