#!/bin/sh
# Lays out pydicom and pynetdicom (the modality's MPPS client in the
# end-to-end tests) under DEST without a package index: their packages are
# taken from git repositories of their sources, at the commits the tests were
# written against, with the metadata they read their versions from.
#
#   scripts/python-dicom.sh DEST PYDICOM_GIT_DIR PYNETDICOM_GIT_DIR
#
# Then PYTHONPATH=DEST makes both importable. Nothing is written when DEST
# already holds these commits.
set -e
dest=$1
pydicom_git=$2
pynetdicom_git=$3
PYDICOM_COMMIT=fb1f24e4f0418008757766d8e79ec92dc2ab9855
PYNETDICOM_COMMIT=a9b931290bb54bd7f55074483521e21fcebbd7ec
VERSION=3.1.0.dev0
stamp="$PYDICOM_COMMIT $PYNETDICOM_COMMIT"

if [ -f "$dest/.commits" ] && [ "$(cat "$dest/.commits")" = "$stamp" ]; then
  exit 0
fi
rm -rf "$dest.new"
mkdir -p "$dest.new"
git --git-dir="$pydicom_git" archive "$PYDICOM_COMMIT" src/pydicom \
  ':(exclude)src/pydicom/data/test_files' | tar -x -C "$dest.new" --strip-components=1
git --git-dir="$pynetdicom_git" archive "$PYNETDICOM_COMMIT" pynetdicom \
  ':(exclude)pynetdicom/tests' ':(exclude)pynetdicom/benchmarks' | tar -x -C "$dest.new"
for package in pydicom pynetdicom; do
  mkdir -p "$dest.new/$package-$VERSION.dist-info"
  printf 'Metadata-Version: 2.1\nName: %s\nVersion: %s\n' "$package" "$VERSION" \
    > "$dest.new/$package-$VERSION.dist-info/METADATA"
done
echo "$stamp" > "$dest.new/.commits"
rm -rf "$dest"
mv "$dest.new" "$dest"
