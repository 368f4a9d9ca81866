// Construction order of the program's global objects (GCC init_priority):
// they are built in this order before WinMain and torn down in reverse after.
#pragma once

#define GLIM_INIT_TRAYICON 1001
#define GLIM_INIT_GLPCLI 1002
#define GLIM_INIT_PREVIEWFONT 1003
#define GLIM_INIT_TASKBARMSG 1004

#define GLIM_INIT_ORDER(n) __attribute__((init_priority(n)))
