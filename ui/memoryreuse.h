#pragma once
// Every edit makes the live 3D view build and drop some tens of MiB (a mesh,
// its geometry, scratch sums). By default glibc gives such blocks back to the
// system when they are freed, and the next edit pays a page fault for every
// 4 KiB again: on a virtual machine that took longer than building the
// geometry itself. The program keeps them instead, within bounds.

// Serves blocks up to 32 MiB from the heap (larger ones, the big output
// meshes, still go straight back to the system) and keeps up to 128 MiB of
// free heap before trimming it. Call once, early in main.
void KeepFreedMemoryForReuse();
