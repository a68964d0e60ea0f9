/* Grabs ten frames from a video server and saves them as an IMC2 file. */
#include <stdio.h>

#include <quivox3/quivox3.h>

int main(int argc, char** argv) {
  const char* file = argc > 1 ? argv[1] : "frames.imc2";
  QVBUNCHOFIMAGES frames;
  int error = QV_E_NONE, tineError = 0;
  char reason[256] = "";

  qvSetVerbose(QV_VERBOSE_STDERR); /* library messages on standard error */
  qvInitializeBunchStructure(&frames);
  int received = qvGrabFramesEx(&frames, "/SIM/VIDEO/CAM1", "Frame", 10, 100, QV_CM_TIMER, &error,
                                &tineError, NULL, NULL);
  if (error != QV_E_NONE) {
    fprintf(stderr, "grab failed: %d frames, error %d, TINE code %d\n", received, error, tineError);
    qvFreeBunch(&frames);
    return 1;
  }
  int saved = qvSaveImagesToFileEx(&frames, file, reason, sizeof reason, NULL, NULL);
  if (saved == QV_E_SAVE_FILE_EXISTS)
    fprintf(stderr, "%s exists already; not replaced\n", file);
  else if (saved != QV_E_NONE)
    fprintf(stderr, "save failed: %s\n", reason);
  else
    printf("%d frames saved to %s (quivox3 %s)\n", received, file, QUIVOX3_VERSION_STRING);
  qvFreeBunch(&frames);
  return saved == QV_E_NONE ? 0 : 1;
}
