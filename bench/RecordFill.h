#pragma once

#include <QString>

namespace orvo::bench {

// A catalogue file at path with count records as the program makes them: localised names
// with time stamps, some renamed, a transcription for every third and a favourite in every
// fifth, about ten minutes apart.
void fillStore(const QString& path, int count);

// A vocabulary of about 20,000 made-up words: syllables of Latin letters, some accented, and
// of Cyrillic ones; in order of how often fillTranscribedStore uses them (Zipf's law).
QStringList transcriptVocabulary();

// A catalogue file at path with count records, each with a transcript of wordsEach words drawn
// from transcriptVocabulary(), in turns of the two sides ("You: ..." / "Them: ..."), as an hour
// of talk gives. Kept for the next run: a file already there with this name is used as it is.
void fillTranscribedStore(const QString& path, int count, int wordsEach);

// Bytes the allocator has handed out and not yet got back, in megabytes: unlike the
// resident size, this does not hide memory reused from earlier work.
double heapMegabytes();

} // namespace orvo::bench
