/* Grabs ten frames from a video server and saves them as an IMC2 file. */
#include <stdio.h>

#include <quivox3/quivox3.h>

int main(int argc, char** argv) {
  const char* file = argc > 1 ? argv[1] : "frames.imc2";
  QVBUNCHOFIMAGES frames;
  int error = 0, tineError = 0;
  char reason[256] = "";

  qvSetVerbose(1); /* library messages on standard error */
  qvInitializeBunchStructure(&frames);
  int received = qvGrabFramesEx(&frames, "/SIM/VIDEO/CAM1", "Frame", 10, 100, 3 /* TIMER */,
                                &error, &tineError, NULL, NULL);
  if (error != 0) {
    fprintf(stderr, "grab failed: %d frames, error %d, TINE code %d\n", received, error, tineError);
    qvFreeBunch(&frames);
    return 1;
  }
  int saved = qvSaveImagesToFileEx(&frames, file, reason, sizeof reason, NULL, NULL);
  if (saved != 0) fprintf(stderr, "save failed: %s\n", reason);
  else printf("%d frames saved to %s\n", received, file);
  qvFreeBunch(&frames);
  return saved == 0 ? 0 : 1;
}
