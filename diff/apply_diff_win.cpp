// Rebuilding a file from an installed old file and a diff stream, through a
// paged reader for each input and a buffered writer for the output.
#include "diff/apply_diff.h"

#include "diff/diff_decoder.h"
#include "diff/output_writer_win.h"
#include "diff/paged_reader_win.h"
#include "engine/internal_error.h"
#include "files/file_ops.h"

bool ApplyDiff(const WideText& outputPath, const WideText& oldPath, const WideText& diffPath,
               ProgressReporter* reporter, WrittenDigest* digest) {
  if (!RemoveLeftover(outputPath)) return false;

  PagedReader oldReader;
  OutputWriter writer(reporter);
  PagedReader diffReader;
  if (!oldReader.Open(oldPath)) return false;
  if (!writer.Open(outputPath)) return false;
  if (!diffReader.Open(diffPath)) return false;

  bool result;
  try {
    result = DecodeDiff(writer, oldReader, diffReader);
  } catch (const InternalError&) {
    // A page of either input could not be read.
    result = false;
  }
  // The rebuilt file replaces the installed one: its bytes reach the disk
  // before the installed file is removed.
  if (!writer.FlushToDisk()) result = false;
  if (digest) *digest = writer.digest;

  diffReader.Close();
  writer.Close();
  oldReader.Close();
  return result;
}
