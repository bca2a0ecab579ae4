@echo off
echo Unpacked by an Orvanta self-extractor; parameters: %*
