@echo off
rem Every Windows-side check of this folder: run it from an elevated prompt on a throwaway machine.
cd /d "%~dp0"
windows_tests.exe %*
exit /b %errorlevel%
